// Visibility of the host class library's (TarkoSub.so) classes.
#pragma once

#define TARKO_API __attribute__((visibility("default")))
