// veldrane-cfg: inspects, creates and edits configuration files from the shell. The commands run
// in-process against the given streams, so that tests drive them as the program does.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace veldrane::cfg {

struct Streams {
  std::FILE* in;
  std::FILE* out;
  std::FILE* err;
  bool out_is_terminal;  // export writes UTF-8 to a terminal
};

// Exit status of a run.
enum Status : int { kOk = 0, kFailed = 1, kUsage = 2 };

// Flushes standard output; false, with the reason on standard error, when it cannot be written.
bool FinishOutput(const Streams& s);

// args without the program name.
int Run(const std::vector<std::string>& args, const Streams& streams);

}  // namespace veldrane::cfg
