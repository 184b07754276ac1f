// Reference host only: the tag database's own API (TarkoDbm.so), for the host runner and tests.
// The driver reaches the database only through FuncTable (sdk/tarko/host_tables.h).
//
// Every function is thread-safe. Names are code page 949 bytes and compare exactly.
#pragma once

#include <cstdint>

#include "tarko/export.h"

extern "C" {
// Defines a tag (or returns the index of an existing one) with type `type` and value 0.
TARKO_API int32_t TagDbDefine(const char* name, uint16_t type);
// Sets a tag's value and type; every subscription of the tag gets it at its client's next
// DbGetChanges. -1 for an unknown tag, else 0.
TARKO_API int32_t TagDbSet(const char* name, double value, uint16_t type);
TARKO_API int32_t TagDbSetByIndex(int32_t index, double value, uint16_t type);
// The tag's index, or -1.
TARKO_API int32_t TagDbFind(const char* name);
TARKO_API int32_t TagDbCount(void);
// The name of the tag at `index` into `buffer` (terminated, cut to `size`); its full length, or
// -1 for an index without a tag.
TARKO_API int32_t TagDbName(int32_t index, char* buffer, int32_t size);
// Clients open now, and clients opened since the last reset.
TARKO_API int32_t TagDbOpenClientCount(void);
TARKO_API int32_t TagDbClientsOpened(void);
// Subscriptions of open clients.
TARKO_API int32_t TagDbSubscriptionCount(void);
// Forgets every tag, client and subscription.
TARKO_API void TagDbReset(void);
}
