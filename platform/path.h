// The characters that separate the folders of a path: '/' on POSIX (path_posix.cc); '/' and '\'
// on Windows (path_windows.cc).
#pragma once

namespace veldrane::platform {

extern const char* const kPathSeparators;

}  // namespace veldrane::platform
