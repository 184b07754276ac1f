// The host runner's reader of 'TAG VALUE' lines from a file, standard input or a FIFO.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace veldrane::host {

// Reads lines from `path` ('-' is standard input) until `stop` is set or the data ends; a FIFO
// is opened again whenever its writer goes away, so scripts may come and go. Each good line
// goes to apply(tag, value), which answers false for a tag no station shows. Bad lines are
// reported on standard error with the file and line number and skipped.
void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<bool(const std::string&, double)>& apply);

}  // namespace veldrane::host
