// Paths as the system spells them: the separators of its folders, whether two paths name one
// file, and where a chain of links ends. POSIX: path_posix.cc; Windows: path_windows.cc.
#pragma once

#include <string>

namespace veldrane::platform {

// The characters that separate the folders of a path: '/' on POSIX; '/' and '\' on Windows.
extern const char* const kPathSeparators;

// Two paths name the same file (the same device and file number, whatever links or spellings
// lead there), or are the same path naming no file.
bool SameFile(const std::string& a, const std::string& b);

// Where a path leads in the end: the file its links name; for a link that leads nowhere, its
// target; for anything else, the path itself.
std::string FinalTarget(const std::string& path);

}  // namespace veldrane::platform
