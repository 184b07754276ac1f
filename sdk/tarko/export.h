// Visibility of the host class library's (TarkoSub) classes, and the file names of modules.
//
// On Windows a module is NAME.dll and exports what its own objects define (the linker's
// automatic export, static libraries left out); on Linux it is NAME.so and exports what is
// marked TARKO_API.
#pragma once

#define TARKO_API __attribute__((visibility("default")))

#if defined(_WIN32)
#define TARKO_MODULE_SUFFIX ".dll"
#else
#define TARKO_MODULE_SUFFIX ".so"
#endif
