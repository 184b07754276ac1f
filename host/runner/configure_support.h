// What the runner's configure command needs beside the driver: the tag names it offers to the
// tag browser, and whether this installation has a configuration window at all.
#pragma once

#include <string>
#include <vector>

namespace veldrane::host {

// Tag names from a UTF-8 text file, one a line (blank lines skipped, blanks around a name
// dropped), as code page 949 bytes. False with a message when the file cannot be read.
bool ReadTagNames(const std::string& path, std::vector<std::string>* tags, std::string* error);

// Whether the configuration window's module lies beside the driver at `driver_path`.
bool HasConfigWindow(const std::string& driver_path);

}  // namespace veldrane::host
