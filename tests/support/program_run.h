// A built program run by a test: its standard output and error captured together, with bounded
// waits for what it prints and for its end.
#pragma once

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace veldrane::test {

class ProgramRun {
 public:
  // `env`: variables set for the program only. `stdin_path`: its standard input (default: none).
  ProgramRun(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& env = {},
             const std::string& stdin_path = "/dev/null") {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      close(fds[0]);
      close(fds[1]);
      if (!freopen(stdin_path.c_str(), "r", stdin)) _exit(126);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv;
      std::string copy = program;
      argv.push_back(copy.data());
      std::vector<std::string> copies = args;
      for (std::string& arg : copies) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(copy.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~ProgramRun() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Reads until `text` has appeared in the output (true) or `seconds` have passed.
  bool WaitFor(const std::string& text, double seconds = 5) {
    auto until = Deadline(seconds);
    while (output_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= until || !ReadSome(100)) return false;
    }
    return true;
  }
  // The rest of the line that starts after `text` ("listening on DEVICE ..." gives DEVICE ...).
  std::string LineAfter(const std::string& text) {
    if (!WaitFor(text)) return {};
    size_t at = output_.find(text) + text.size();
    auto until = Deadline(5);
    while (output_.find('\n', at) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= until || !ReadSome(100)) return {};
    }
    return output_.substr(at, output_.find('\n', at) - at);
  }
  void Signal(int sig) { kill(pid_, sig); }
  pid_t pid() const { return pid_; }
  // Waits up to `seconds` for the program to end: its exit status, 128 + the signal that ended
  // it, or -1 when it still runs (it is then killed).
  int Finish(double seconds = 30) {
    auto until = Deadline(seconds);
    while (running()) {
      ReadSome(20);
      if (std::chrono::steady_clock::now() >= until) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        finished_ = true;
        return -1;
      }
    }
    while (ReadSome(100)) {
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }
  bool running() {
    if (!finished_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) finished_ = true;
    return pid_ > 0 && !finished_;
  }
  const std::string& output() const { return output_; }

 private:
  static std::chrono::steady_clock::time_point Deadline(double seconds) {
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(seconds));
  }
  // False at the end of the output.
  bool ReadSome(int timeout_ms) {
    if (eof_) return false;
    pollfd pfd{out_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return true;
    char buffer[4096];
    ssize_t count = read(out_, buffer, sizeof buffer);
    if (count <= 0) {
      eof_ = true;
      return false;
    }
    output_.append(buffer, static_cast<size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool finished_ = false;
  bool eof_ = false;
  int status_ = 0;
  std::string output_;
};

}  // namespace veldrane::test
