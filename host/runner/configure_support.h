// What the runner's configure command needs beside the driver: the tag names it offers to the
// tag browser, whether this installation has a configuration window at all, and whether the
// configuration file was written while the window was open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veldrane::host {

// Tag names from a UTF-8 text file, one a line (blank lines skipped, blanks around a name
// dropped), as code page 949 bytes. False with a message when the file cannot be read.
bool ReadTagNames(const std::string& path, std::vector<std::string>* tags, std::string* error);

// Whether the configuration window's module lies beside the driver at `driver_path`.
bool HasConfigWindow(const std::string& driver_path);

// What tells one state of a file from another: a save puts a new file (another identity) in the
// old one's place, and any write changes the modification time.
struct FileStamp {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t modified = 0;  // in the file system clock's ticks
  int64_t size = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);
// Whether the file at `after` was written since `before`: it exists and is not the same.
bool WrittenSince(const FileStamp& before, const FileStamp& after);

}  // namespace veldrane::host
