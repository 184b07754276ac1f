// The 17 entry functions of DrvFuncTable. Each one catches every exception at its edge and
// answers its failure result instead.
#pragma once

#include <cstdint>

#include "veldrane/drv_table.h"

namespace veldrane::entry {

int32_t DrvGetVersion();
int32_t DrvOpen(const char* path);
int32_t DrvConfigure(const char* path);
int32_t DrvOpenPort(int32_t index);
int32_t DrvResolveTags(int32_t index);
int32_t DrvStop(int32_t index);
int32_t DrvRequest(int32_t index, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
int32_t DrvNotify(int32_t index, int32_t a, int32_t b);
int32_t DrvQueryA();
int32_t DrvQueryB();
void DrvHookA();
void DrvHookB();
const char* DrvGetName();
void DrvSetActive(int32_t index, const char* station, int32_t state);
void DrvResetStats(int32_t index, const char* station);
int32_t DrvGetStats(int32_t index, const char* station, int32_t* sent, int32_t* failed,
                    int32_t* third, int32_t* fourth);
void DrvGetStationInfo(int32_t index, const char* station, CString* number, CString* tag);

// Fills a table of kDrvTableSize slots: the entry functions in slots 0 to 16, null after.
void FillTable(DrvFn* table);
// What the module's unload does: destroys every instance, then frees the host modules.
void Unload();

}  // namespace veldrane::entry
