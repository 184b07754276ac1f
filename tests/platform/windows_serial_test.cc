// The Win32 serial device on a fake Win32 call table: what opening asks of the port, the
// overlapped write and transmitter-empty waits with their bounds and cancellations, how Win32
// errors become causes, a vanished port opened again at most once a second, and the engine's
// RTS/CTS handshake in Win32 terms. The modem lines and comm events cannot be had on Wine's
// pseudo-terminal ports, so they are faked here.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "comm/comm_engine.h"
#include "comm/comm_env.h"
#include "config/doc.h"
#include "driver/driver_instance.h"
#include "platform/serial/serial_device.h"
#include "platform/serial/serial_win32.h"
#include "platform/testing/simulated_clock.h"
#include "tests/support/fault_script.h"

namespace veldrane::test {
namespace {

using platform::SerialFault;
using platform::SerialSettings;

// How the fake port answers an overlapped operation.
enum class Pending { kAtOnce, kCompletes, kNeverCompletes };

struct FakePort {
  DWORD open_error = 0;  // nonzero: CreateFileA fails with it
  bool cts = true;
  DWORD escape_error = 0;
  Pending write = Pending::kAtOnce;
  DWORD write_error = 0;  // the completion's error (0: success)
  DWORD write_short = 0;  // bytes not taken
  Pending transmit = Pending::kCompletes;
  DWORD transmit_error = 0;  // the completion's (or, at once, the call's) error
  uint64_t now_ms = 1000;
  DCB dcb{};
  COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
  std::vector<std::string> calls;
  std::string opened;
  std::string written;
  DWORD last_count = 0;
  DWORD last_error = 0;
};

FakePort& Port() {
  static FakePort port;
  return port;
}

HANDLE const kHandle = reinterpret_cast<HANDLE>(0x1234);

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// A pending operation: the wait then says whether it completed, and GetOverlappedResult how.
BOOL Start(Pending how, DWORD error, DWORD count) {
  FakePort& p = Port();
  if (how == Pending::kAtOnce) {
    return error == 0 ? TRUE : FailWith(error);
  }
  p.last_error = error;
  p.last_count = count;
  p.calls.push_back(how == Pending::kCompletes ? "pending" : "pending forever");
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

bool g_never = false;

const platform::SerialWin32Api kFake = {
    [](const char* name) -> HANDLE {
      Port().calls.push_back(std::string("open ") + name);
      Port().opened = name;
      if (Port().open_error) {
        SetLastError(Port().open_error);
        return INVALID_HANDLE_VALUE;
      }
      return kHandle;
    },
    [](HANDLE) -> BOOL {
      Port().calls.push_back("close");
      return TRUE;
    },
    [](HANDLE, DCB* dcb) -> BOOL {
      *dcb = Port().dcb;
      return TRUE;
    },
    [](HANDLE, DCB* dcb) -> BOOL {
      Port().dcb = *dcb;
      return TRUE;
    },
    [](HANDLE, COMMTIMEOUTS* t) -> BOOL {
      *t = Port().timeouts;
      return TRUE;
    },
    [](HANDLE, COMMTIMEOUTS* t) -> BOOL {
      Port().timeouts = *t;
      return TRUE;
    },
    [](HANDLE, DWORD mask) -> BOOL {
      Port().calls.push_back("mask " + std::to_string(mask));
      return TRUE;
    },
    [](HANDLE, DWORD flags) -> BOOL {
      Port().calls.push_back("purge " + std::to_string(flags));
      return TRUE;
    },
    [](HANDLE, DWORD function) -> BOOL {
      Port().calls.push_back(function == SETRTS ? "SETRTS" : "CLRRTS");
      return Port().escape_error ? FailWith(Port().escape_error) : TRUE;
    },
    [](HANDLE, DWORD* status) -> BOOL {
      Port().calls.push_back("status");
      if (Port().escape_error) return FailWith(Port().escape_error);
      *status = Port().cts ? MS_CTS_ON : 0;
      return TRUE;
    },
    [](HANDLE, const void* bytes, DWORD count, DWORD* written, OVERLAPPED*) -> BOOL {
      FakePort& p = Port();
      p.calls.push_back("write " + std::to_string(count));
      p.written.assign(static_cast<const char*>(bytes), count);
      *written = count - p.write_short;
      g_never = p.write == Pending::kNeverCompletes;
      return Start(p.write, p.write_error, count - p.write_short);
    },
    [](HANDLE, DWORD* mask, OVERLAPPED*) -> BOOL {
      FakePort& p = Port();
      p.calls.push_back("wait event");
      *mask = EV_TXEMPTY;
      g_never = p.transmit == Pending::kNeverCompletes;
      return Start(p.transmit, p.transmit_error, 0);
    },
    [](HANDLE, DWORD ms) -> DWORD {
      if (g_never) {
        Port().now_ms += ms;
        return WAIT_TIMEOUT;
      }
      return WAIT_OBJECT_0;
    },
    [](HANDLE, OVERLAPPED*, DWORD* count, BOOL wait) -> BOOL {
      FakePort& p = Port();
      if (wait) {
        p.calls.push_back("await cancelled");
        return FailWith(ERROR_OPERATION_ABORTED);
      }
      *count = p.last_count;
      return p.last_error == 0 ? TRUE : FailWith(p.last_error);
    },
    [](HANDLE, OVERLAPPED*) -> BOOL {
      Port().calls.push_back("cancel");
      g_never = false;
      return TRUE;
    },
    []() -> uint64_t { return Port().now_ms; },
    [](DWORD ms) {
      Port().calls.push_back("sleep " + std::to_string(ms));
      Port().now_ms += ms;
    },
};

class WindowsSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    Port() = FakePort{};
    Port().dcb.DCBlength = sizeof(DCB);
    Port().dcb.XonChar = 0x11;
    Port().dcb.fAbortOnError = 1;
    g_never = false;
  }
  std::vector<std::string> TakeCalls() {
    std::vector<std::string> calls = std::move(Port().calls);
    Port().calls.clear();
    return calls;
  }
  SerialSettings Line(bool rts_cts) {
    SerialSettings s;
    s.baud_rate = 9600;
    s.rts_cts = rts_cts;
    return s;
  }
  InstalledApi<platform::SerialWin32Api> fake_{&platform::SetSerialWin32Api, kFake};
  std::unique_ptr<platform::SerialDevice> device_ = platform::NewSystemSerialDevice();
};

TEST_F(WindowsSerial, OpensTheComNameWithTheDcbAndTimeOutsOfItsMode) {
  struct Case {
    const char* port;
    const char* device;
    bool rts_cts;
    uint32_t baud;
    uint8_t bits;
    platform::Parity parity;
    uint8_t stop;
    BYTE dcb_parity, dcb_stop;
  } cases[] = {
      {"COM9", "COM9", false, 9600, 8, platform::Parity::kNone, 1, NOPARITY, ONESTOPBIT},
      {"COM10", "\\\\.\\COM10", true, 38400, 7, platform::Parity::kEven, 2, EVENPARITY,
       TWOSTOPBITS},
      {"\\\\.\\com3", "COM3", false, 300, 8, platform::Parity::kOdd, 1, ODDPARITY, ONESTOPBIT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    device_.reset();
    SetUp();
    device_ = platform::NewSystemSerialDevice();
    SerialSettings s{c.baud, c.bits, c.parity, c.stop, c.rts_cts};
    ASSERT_TRUE(device_->Open(c.port, s).ok());
    EXPECT_EQ(Port().opened, c.device);
    const DCB& d = Port().dcb;
    EXPECT_EQ(d.BaudRate, c.baud);
    EXPECT_EQ(d.ByteSize, c.bits);
    EXPECT_EQ(d.Parity, c.dcb_parity);
    EXPECT_EQ(d.StopBits, c.dcb_stop);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fParity, 1u);  // on even without parity
    EXPECT_EQ(d.fOutxCtsFlow | d.fOutxDsrFlow | d.fDsrSensitivity | d.fTXContinueOnXoff | d.fOutX |
                  d.fInX,
              0u);
    EXPECT_EQ(d.fDtrControl, c.rts_cts ? DTR_CONTROL_DISABLE : DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.fRtsControl, c.rts_cts ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE);
    EXPECT_EQ(d.XonChar, 0x11);  // what the port had stays
    EXPECT_EQ(d.fAbortOnError, 1u);
    const COMMTIMEOUTS& t = Port().timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
    // RTS up for good in normal mode only; no events while configuring.
    std::vector<std::string> expected = {std::string("open ") + c.device, "mask 0"};
    if (!c.rts_cts) expected.push_back("SETRTS");
    EXPECT_EQ(TakeCalls(), expected);
  }
}

TEST_F(WindowsSerial, OpenFailuresKeepTheirCause) {
  const std::pair<DWORD, SerialFault> cases[] = {
      {ERROR_FILE_NOT_FOUND, SerialFault::kNotFound},
      {ERROR_ACCESS_DENIED, SerialFault::kBusy},  // another program has the port
      {ERROR_SHARING_VIOLATION, SerialFault::kBusy},
      {ERROR_GEN_FAILURE, SerialFault::kIoError},
  };
  for (const auto& [error, fault] : cases) {
    Port().open_error = error;
    platform::SerialResult r = device_->Open("COM4", Line(false));
    EXPECT_EQ(r.fault, fault) << error;
    EXPECT_EQ(r.error, static_cast<int>(error));
  }
  EXPECT_EQ(device_->Open("LPT1", Line(false)).fault, SerialFault::kNotFound);
  SerialSettings bad = Line(false);
  bad.byte_size = 5;
  EXPECT_EQ(device_->Open("COM1", bad).fault, SerialFault::kSettingsRefused);
}

struct FrameCase {
  const char* name;
  Pending write;
  DWORD write_error, write_short;
  Pending transmit;
  DWORD transmit_error;
  SerialFault write_fault, transmit_fault;
  std::vector<std::string> calls;  // after the write's own
};

TEST_F(WindowsSerial, EachWaitIsBoundedAndNothingStaysPending) {
  const FrameCase cases[] = {
      {"sent",
       Pending::kCompletes,
       0,
       0,
       Pending::kCompletes,
       0,
       SerialFault::kNone,
       SerialFault::kNone,
       {"pending", "wait event", "pending"}},
      {"write never completes",
       Pending::kNeverCompletes,
       0,
       0,
       Pending::kCompletes,
       0,
       SerialFault::kTimedOut,
       SerialFault::kNone,
       {"pending forever", "cancel", "await cancelled", "wait event", "pending"}},
      {"Wine's timed-out write",
       Pending::kCompletes,
       ERROR_TIMEOUT,
       0,
       Pending::kAtOnce,
       0,
       SerialFault::kTimedOut,
       SerialFault::kNone,
       {"pending", "wait event"}},
      {"Windows' timed-out write",
       Pending::kAtOnce,
       0,
       3,
       Pending::kAtOnce,
       0,
       SerialFault::kTimedOut,
       SerialFault::kNone,
       {"wait event"}},
      {"transmitter never empty",
       Pending::kAtOnce,
       0,
       0,
       Pending::kNeverCompletes,
       0,
       SerialFault::kNone,
       SerialFault::kTimedOut,
       {"wait event", "pending forever", "cancel", "await cancelled"}},
      // Wine's pseudo-terminal ports end comm events with 995: the bytes' character time.
      {"no transmitter events",
       Pending::kAtOnce,
       0,
       0,
       Pending::kCompletes,
       ERROR_OPERATION_ABORTED,
       SerialFault::kNone,
       SerialFault::kNone,
       {"wait event", "pending", "sleep 8"}},
      {"comm events refused",
       Pending::kAtOnce,
       0,
       0,
       Pending::kAtOnce,
       ERROR_NOT_SUPPORTED,
       SerialFault::kNone,
       SerialFault::kNone,
       {"wait event", "sleep 8"}},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ASSERT_TRUE(device_->Open("COM1", Line(false)).ok());
    Port().write = c.write;
    Port().write_error = c.write_error;
    Port().write_short = c.write_short;
    Port().transmit = c.transmit;
    Port().transmit_error = c.transmit_error;
    TakeCalls();
    const uint8_t frame[] = {'(', '0', '1', '1', '2', '3', '\r'};
    const uint64_t start = Port().now_ms;
    EXPECT_EQ(device_->Write(frame, sizeof frame, 1000).fault, c.write_fault);
    EXPECT_LE(Port().now_ms - start, 1000u);
    EXPECT_EQ(device_->WaitTransmitted(2000).fault, c.transmit_fault);
    EXPECT_LE(Port().now_ms - start, 3000u);
    std::vector<std::string> expected = {"write 7"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(TakeCalls(), expected);
  }
}

TEST_F(WindowsSerial, AVanishedPortOpensAgainAtMostOnceASecond) {
  ASSERT_TRUE(device_->Open("COM2", Line(false)).ok());
  Port().write = Pending::kAtOnce;
  Port().write_error = ERROR_GEN_FAILURE;  // the adapter was unplugged
  const uint8_t byte = 'x';
  EXPECT_EQ(device_->Write(&byte, 1, 1000).fault, SerialFault::kIoError);
  Port().write_error = 0;
  Port().now_ms += 999;
  EXPECT_EQ(device_->Write(&byte, 1, 1000).fault, SerialFault::kIoError);  // too soon
  EXPECT_FALSE(device_->TakeReturned());
  Port().now_ms += 1;
  EXPECT_TRUE(device_->Write(&byte, 1, 1000).ok());
  EXPECT_TRUE(device_->TakeReturned());
  std::vector<std::string> calls = TakeCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "open COM2"), 2);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "close"), 1);
}

TEST_F(WindowsSerial, ModemLinesThatThePortLacksAreSaidSo) {
  ASSERT_TRUE(device_->Open("COM1", Line(true)).ok());
  EXPECT_EQ(device_->Cts(), platform::ModemLine::kUp);
  EXPECT_TRUE(device_->SetRts(true).ok());
  Port().escape_error = ERROR_NOT_SUPPORTED;  // 50, as on Wine's pseudo-terminal ports
  EXPECT_EQ(device_->SetRts(false).fault, SerialFault::kSettingsRefused);
  EXPECT_EQ(device_->Cts(), platform::ModemLine::kUnsupported);
}

// The engine's frame in RTS/CTS mode on the Win32 device, in simulated time.
class WindowsHandshake : public WindowsSerial, public comm::CommEnvironment {
 protected:
  void SetUp() override {
    WindowsSerial::SetUp();
    previous_ = comm::SetEnvironment(this);
    doc_.Port().option_flags = 2;  // RTS/CTS
    ASSERT_EQ(line_.OpenPort(), 0);
    TakeCalls();
  }
  void TearDown() override { comm::SetEnvironment(previous_); }
  platform::Clock& GetClock() override { return clock_; }
  std::unique_ptr<platform::SerialDevice> NewSerialDevice() override {
    return platform::NewSystemSerialDevice();
  }
  int32_t Send() {
    const uint8_t frame[] = {'(', '0', '1', '1', '2', '3', '\r', 0};
    return line_.GetEngine()->WriteFrame(frame, sizeof frame);
  }

  platform::SimulatedClock clock_{platform::SimulatedClock::Mode::kFreeRunning};
  comm::CommEnvironment* previous_ = nullptr;
  veldrane::DriverInstance line_;
  CVeldraneDoc& doc_ = line_.doc();
};

TEST_F(WindowsHandshake, RtsRisesForTheFrameAndFallsWhenTheTransmitterIsEmpty) {
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"purge 12", "mask 4", "SETRTS", "status",
                                                   "write 8", "wait event", "pending", "CLRRTS"}));
}

TEST_F(WindowsHandshake, WithoutCtsNothingIsWrittenAndRtsFallsAfterASecond) {
  Port().cts = false;
  const uint64_t start = clock_.NowMs();
  EXPECT_EQ(Send(), veldrane::comm::Engine::kSendFailed);
  EXPECT_EQ(clock_.NowMs() - start, 1000u);
  std::vector<std::string> calls = TakeCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "status"), 101);  // every 10 ms
  EXPECT_EQ(calls.front(), "purge 12");
  EXPECT_EQ(calls.back(), "CLRRTS");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "write 8"), 0);
}

}  // namespace
}  // namespace veldrane::test
