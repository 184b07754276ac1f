// Value sources on Windows: a file, standard input (a pipe, a file or the console), and a named
// pipe \\.\pipe\NAME that the runner creates and scripts write to whenever they like, one after
// the other. Windows has no FIFOs; the named pipe takes their place.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/runner/inputs/value_source.h"
#include "platform/text/win_text.h"

namespace veldrane::host {
namespace {

constexpr DWORD kWaitMs = 200;

bool IsNamedPipe(const std::string& path) {
  return path.size() > 9 &&
         (path.compare(0, 9, "\\\\.\\pipe\\") == 0 || path.compare(0, 9, "//./pipe/") == 0);
}

// One read of up to `size` bytes: data, or the end (an error, or nothing left).
ValueSource::Read ReadHandle(HANDLE h, char* buffer, DWORD size, size_t* n) {
  DWORD got = 0;
  if (!ReadFile(h, buffer, size, &got, nullptr) || got == 0) return ValueSource::Read::kEnd;
  *n = got;
  return ValueSource::Read::kData;
}

// A file, or standard input redirected from one: reads never wait long.
class FileSource final : public ValueSource {
 public:
  FileSource(HANDLE h, bool owned) : h_(h), owned_(owned) {}
  ~FileSource() override {
    if (owned_) CloseHandle(h_);
  }
  Read ReadSome(char* buffer, size_t size, size_t* n) override {
    return ReadHandle(h_, buffer, static_cast<DWORD>(size), n);
  }
  bool Reopens() const override { return false; }

 private:
  HANDLE h_;
  bool owned_;
};

// Standard input from a pipe: looked at before each read, so that a stop is never kept waiting.
// Where the pipe cannot be looked at (Wine's pipes from a Linux shell), a thread of its own reads
// it and hands the bytes over; a stop then leaves that thread in its read, detached, to end with
// the process.
class StdinPipeSource final : public ValueSource {
 public:
  explicit StdinPipeSource(HANDLE h) : h_(h) {}
  ~StdinPipeSource() override {
    if (!reader_) return;
    std::lock_guard<std::mutex> lock(reader_->mutex);
    reader_->abandoned = true;
  }

  Read ReadSome(char* buffer, size_t size, size_t* n) override {
    if (reader_) return TakeFromReader(buffer, size, n);
    DWORD available = 0;
    if (!PeekNamedPipe(h_, nullptr, 0, nullptr, &available, nullptr)) {
      const DWORD error = GetLastError();
      // The writer closed its end: the data has ended.
      if (error == ERROR_BROKEN_PIPE) return Read::kEnd;
      if (!StartReader()) {
        failure_ = platform::SystemErrorText(error);
        return Read::kEnd;
      }
      return TakeFromReader(buffer, size, n);
    }
    if (available == 0) {
      Sleep(kWaitMs / 4);
      return Read::kIdle;
    }
    return ReadHandle(h_, buffer, available < size ? available : static_cast<DWORD>(size), n);
  }
  bool Reopens() const override { return false; }
  std::string Failure() const override { return failure_; }

 private:
  // What the reading thread and the source share, guarded by `mutex`; the thread keeps it
  // alive for as long as it runs.
  struct Shared {
    std::mutex mutex;
    std::condition_variable ready;
    std::string bytes;       // read and not yet taken
    bool ended = false;      // the thread's last read found the end, or failed
    std::string failure;     // why, when it failed
    bool abandoned = false;  // the source is gone: the thread ends after its read
  };

  bool StartReader() {
    auto shared = std::make_shared<Shared>();
    try {
      std::thread([h = h_, shared] { ReadUntilEnd(h, *shared); }).detach();
    } catch (...) {
      return false;
    }
    reader_ = std::move(shared);
    return true;
  }

  static void ReadUntilEnd(HANDLE h, Shared& shared) {
    char chunk[4096];
    for (;;) {
      DWORD got = 0;
      const bool ok = ReadFile(h, chunk, sizeof chunk, &got, nullptr) != 0;
      const DWORD error = ok ? 0 : GetLastError();
      std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.abandoned) return;
      if (ok && got > 0) {
        shared.bytes.append(chunk, got);
      } else {
        shared.ended = true;
        if (!ok && error != ERROR_BROKEN_PIPE) shared.failure = platform::SystemErrorText(error);
      }
      shared.ready.notify_all();
      if (shared.ended) return;
    }
  }

  Read TakeFromReader(char* buffer, size_t size, size_t* n) {
    std::unique_lock<std::mutex> lock(reader_->mutex);
    reader_->ready.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                            [&] { return !reader_->bytes.empty() || reader_->ended; });
    if (!reader_->bytes.empty()) {
      *n = std::min(size, reader_->bytes.size());
      std::memcpy(buffer, reader_->bytes.data(), *n);
      reader_->bytes.erase(0, *n);
      return Read::kData;
    }
    if (!reader_->ended) return Read::kIdle;
    failure_ = reader_->failure;
    return Read::kEnd;
  }

  HANDLE h_;
  std::shared_ptr<Shared> reader_;  // null while the pipe can be looked at
  std::string failure_;
};

// Standard input from the console: a line is read once Enter is among the keys typed.
class ConsoleSource final : public ValueSource {
 public:
  explicit ConsoleSource(HANDLE h) : h_(h) {}
  Read ReadSome(char* buffer, size_t size, size_t* n) override {
    if (WaitForSingleObject(h_, kWaitMs) != WAIT_OBJECT_0) return Read::kIdle;
    INPUT_RECORD records[128];
    DWORD count = 0;
    if (!PeekConsoleInputW(h_, records, 128, &count)) return Read::kEnd;
    bool enter = false;
    for (DWORD i = 0; i < count; ++i) {
      const INPUT_RECORD& r = records[i];
      if (r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown &&
          r.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
        enter = true;
      }
    }
    if (!enter) {
      Sleep(kWaitMs / 4);
      return Read::kIdle;
    }
    return ReadHandle(h_, buffer, static_cast<DWORD>(size), n);
  }
  bool Reopens() const override { return false; }

 private:
  HANDLE h_;
};

// The runner's own named pipe: one writer at a time, each awaited without blocking a stop.
class NamedPipeSource final : public ValueSource {
 public:
  explicit NamedPipeSource(HANDLE pipe) : pipe_(pipe) {
    op_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~NamedPipeSource() override {
    if (pending_) {
      CancelIoEx(pipe_, &op_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_, &op_, &ignored, TRUE);
    }
    DisconnectNamedPipe(pipe_);
    CloseHandle(pipe_);
    if (op_.hEvent) CloseHandle(op_.hEvent);
  }

  Read ReadSome(char* buffer, size_t size, size_t* n) override {
    if (!connected_) {
      if (!pending_) {
        ResetEvent(op_.hEvent);
        if (ConnectNamedPipe(pipe_, &op_)) {
          connected_ = true;
        } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
          connected_ = true;
        } else if (GetLastError() == ERROR_IO_PENDING) {
          pending_ = true;
        } else {
          return Read::kEnd;
        }
      }
      if (pending_) {
        if (WaitForSingleObject(op_.hEvent, kWaitMs) != WAIT_OBJECT_0) return Read::kIdle;
        pending_ = false;
        DWORD ignored = 0;
        if (!GetOverlappedResult(pipe_, &op_, &ignored, FALSE)) return Read::kEnd;
        connected_ = true;
      }
    }
    ResetEvent(op_.hEvent);
    DWORD got = 0;
    if (!ReadFile(pipe_, buffer, static_cast<DWORD>(size), &got, &op_)) {
      DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Read::kEnd;  // the writer went away
      pending_ = true;
      if (WaitForSingleObject(op_.hEvent, kWaitMs) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_, &op_);
        GetOverlappedResult(pipe_, &op_, &got, TRUE);
        pending_ = false;
        if (got == 0) return Read::kIdle;
      } else {
        pending_ = false;
        if (!GetOverlappedResult(pipe_, &op_, &got, FALSE)) return Read::kEnd;
      }
    }
    if (got == 0) return Read::kIdle;
    *n = got;
    return Read::kData;
  }
  bool Reopens() const override { return true; }

 private:
  HANDLE pipe_;
  OVERLAPPED op_{};
  bool pending_ = false;
  bool connected_ = false;
};

HANDLE OpenFile(const std::string& path, DWORD flags) {
  return CreateFileW(platform::WideFromUtf8(path).c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

}  // namespace

bool CheckValueSource(const std::string& path, std::string* error) {
  if (path == "-" || IsNamedPipe(path)) return true;
  HANDLE h = OpenFile(path, FILE_FLAG_BACKUP_SEMANTICS);
  if (h == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + platform::SystemErrorText(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  bool directory =
      GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  CloseHandle(h);
  if (directory) *error = "cannot read values from " + path + ": it is a directory";
  return !directory;
}

std::unique_ptr<ValueSource> OpenValueSource(const std::string& path, std::string* error) {
  if (path == "-") {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode)) return std::make_unique<ConsoleSource>(in);
    if (GetFileType(in) == FILE_TYPE_PIPE) return std::make_unique<StdinPipeSource>(in);
    return std::make_unique<FileSource>(in, false);
  }
  if (IsNamedPipe(path)) {
    HANDLE pipe = CreateNamedPipeW(
        platform::WideFromUtf8(path).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
      *error = platform::SystemErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<NamedPipeSource>(pipe);
  }
  HANDLE h = OpenFile(path, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    *error = platform::SystemErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<FileSource>(h, true);
}

}  // namespace veldrane::host
