// Telnet with the COM-PORT-OPTION (RFC 854, RFC 1143, RFC 2217), as the network line and the
// virtual meter's device server speak it: pure functions from settings to bytes and a reader
// from bytes to events, no I/O. Both sides run the line in binary mode, so the only change to
// the line's bytes is the doubling of 0xFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/serial/serial_device.h"

namespace veldrane::platform::telnet {

using Bytes = std::vector<uint8_t>;

// Commands and options.
inline constexpr uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254,
                         kIac = 255;
inline constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the command plus
// kServerOffset.
inline constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                         kSetControl = 5, kNotifyModemState = 7, kSetLineStateMask = 10,
                         kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;
// Values of SET-PARITY, SET-STOPSIZE and SET-CONTROL.
inline constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4,
                         kParitySpace = 5;
inline constexpr uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
inline constexpr uint8_t kNoFlowControl = 1, kDtrRequest = 7, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11,
                         kRtsOff = 12, kRtsRequest = 13;
// Bits of the modem state.
inline constexpr uint8_t kDeltaCts = 0x01, kCts = 0x10;

// The line's bytes as they go on the connection: each 0xFF doubled. Appended to `out`.
void AppendData(const uint8_t* bytes, size_t length, Bytes* out);
// IAC SB COM-PORT-OPTION command value IAC SE, the value's 0xFF doubled.
void AppendComPort(uint8_t command, const Bytes& value, Bytes* out);
// The four bytes of a baud rate, most significant first.
Bytes BaudRateValue(uint32_t baud);

// The client's commands that put `settings` on the far port: baud rate, data size, parity,
// stop size, no flow control, and DTR and RTS as the serial device holds them by mode (both up
// in normal mode; both down between frames with the handshake, which also asks to be told of
// CTS).
Bytes LineSettingsCommands(const SerialSettings& settings);

// What the reader finds on a connection.
struct Event {
  enum class Kind : uint8_t { kData, kOption, kSubnegotiation };
  Kind kind = Kind::kData;
  uint8_t verb = 0;    // kWill, kWont, kDo or kDont, for kOption
  uint8_t option = 0;  // for kOption and kSubnegotiation
  Bytes bytes;         // the data, or what was between IAC SB option and IAC SE
};

// Splits what arrives into the line's data, option negotiations and subnegotiations; a
// sequence cut between two reads is completed by the next. Other commands (NOP, GA, ...) are
// dropped, and so is a subnegotiation longer than any this side understands.
class Reader {
 public:
  void Feed(const uint8_t* bytes, size_t length, std::vector<Event>* events);

 private:
  enum class State : uint8_t { kData, kAfterIac, kVerb, kSbOption, kInSb, kSbIac };
  State state_ = State::kData;
  uint8_t verb_ = 0;
  Event sub_;
  bool sub_too_long_ = false;
};

// Option negotiation without loops (RFC 1143, without its queue): each side's state of each
// option, with the options this side does when asked and lets the peer do.
class Negotiator {
 public:
  // `local`: options this side does (a DO is answered WILL); `remote`: options the peer may do
  // (a WILL is answered DO). Any other option is refused.
  Negotiator(std::initializer_list<uint8_t> local, std::initializer_list<uint8_t> remote);

  // This side offers to do an option (WILL), or asks the peer to (DO).
  void Offer(uint8_t option, Bytes* out);
  void Ask(uint8_t option, Bytes* out);
  // The answer to the peer's WILL, WONT, DO or DONT, if one is due.
  void Answer(uint8_t verb, uint8_t option, Bytes* out);

  bool LocalOn(uint8_t option) const { return local_[option] == State::kYes; }
  bool RemoteOn(uint8_t option) const { return remote_[option] == State::kYes; }
  // The peer refused an option this side offered.
  bool LocalRefused(uint8_t option) const { return local_refused_[option]; }

 private:
  enum class State : uint8_t { kNo, kWantYes, kYes };
  std::array<State, 256> local_{};
  std::array<State, 256> remote_{};
  std::array<bool, 256> local_allowed_{};
  std::array<bool, 256> remote_allowed_{};
  std::array<bool, 256> local_refused_{};
};

}  // namespace veldrane::platform::telnet
