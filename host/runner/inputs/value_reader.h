// The host runner's reader of 'TAG VALUE' lines from a file, standard input or a FIFO.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "host/runner/gateway/value_input.h"

namespace veldrane::host {

// Checks, before the run, that `path` can be read as a source of values ('-', a file, a FIFO or
// on Windows a named pipe, a terminal or another device, not a directory): false with the path
// and the reason (value_source.h).
bool CheckValueSource(const std::string& path, std::string* error);

// Reads lines from `path` ('-' is standard input) until `stop` is set or the data ends; a FIFO
// is opened again whenever its writer goes away, so scripts may come and go. Each good line
// goes to apply(tag, value), which answers false for a tag no station shows. Bad lines are
// reported on standard error with the file and line number (input shown with control
// characters escaped) and skipped; in a flood of them the first few of every ten seconds are
// reported and the rest counted.
void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<bool(const std::string&, double)>& apply);
// The same with set(tag, value) answering as the runner's sink does: a value it refuses is
// reported as a bad line is.
void ReadValueFile(const std::string& path, const std::atomic<bool>& stop,
                   const std::function<ValueSink::Result(const std::string&, double)>& set);

}  // namespace veldrane::host
