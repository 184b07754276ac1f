#include "platform/net/telnet_codec.h"

namespace veldrane::platform::telnet {
namespace {

// Longer than any subnegotiation of the COM-PORT-OPTION (SET-BAUDRATE: 1 + 4 bytes, each byte
// possibly doubled); longer ones, of options nobody asked for, are dropped.
constexpr size_t kLongestSubnegotiation = 64;

void AppendCommand(uint8_t verb, uint8_t option, Bytes* out) {
  out->insert(out->end(), {kIac, verb, option});
}

}  // namespace

void AppendData(const uint8_t* bytes, size_t length, Bytes* out) {
  for (size_t i = 0; i < length; ++i) {
    out->push_back(bytes[i]);
    if (bytes[i] == kIac) out->push_back(kIac);
  }
}

void AppendComPort(uint8_t command, const Bytes& value, Bytes* out) {
  out->insert(out->end(), {kIac, kSb, kComPortOption, command});
  AppendData(value.data(), value.size(), out);
  out->insert(out->end(), {kIac, kSe});
}

Bytes BaudRateValue(uint32_t baud) {
  return {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
          static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
}

Bytes LineSettingsCommands(const SerialSettings& settings) {
  Bytes out;
  AppendComPort(kSetBaudRate, BaudRateValue(settings.baud_rate), &out);
  AppendComPort(kSetDataSize, {settings.byte_size}, &out);
  const uint8_t parity = settings.parity == Parity::kOdd    ? kParityOdd
                         : settings.parity == Parity::kEven ? kParityEven
                                                            : kParityNone;
  AppendComPort(kSetParity, {parity}, &out);
  AppendComPort(kSetStopSize, {settings.stop_bits == 2 ? kStopTwo : kStopOne}, &out);
  AppendComPort(kSetControl, {kNoFlowControl}, &out);
  AppendComPort(kSetControl, {settings.rts_cts ? kDtrOff : kDtrOn}, &out);
  AppendComPort(kSetControl, {settings.rts_cts ? kRtsOff : kRtsOn}, &out);
  // Only the handshake looks at CTS; without it no notice is wanted.
  AppendComPort(kSetModemStateMask, {settings.rts_cts ? uint8_t{kCts | kDeltaCts} : uint8_t{0}},
                &out);
  return out;
}

void Reader::Feed(const uint8_t* bytes, size_t length, std::vector<Event>* events) {
  auto data = [&](uint8_t byte) {
    if (events->empty() || events->back().kind != Event::Kind::kData) {
      events->push_back({Event::Kind::kData, 0, 0, {}});
    }
    events->back().bytes.push_back(byte);
  };
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kAfterIac;
        } else {
          data(b);
        }
        break;
      case State::kAfterIac:
        state_ = State::kData;
        if (b == kIac) {
          data(b);
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == kSb) {
          state_ = State::kSbOption;
        }
        break;
      case State::kVerb:
        events->push_back({Event::Kind::kOption, verb_, b, {}});
        state_ = State::kData;
        break;
      case State::kSbOption:
        sub_ = {Event::Kind::kSubnegotiation, 0, b, {}};
        sub_too_long_ = false;
        state_ = State::kInSb;
        break;
      case State::kInSb:
        if (b == kIac) {
          state_ = State::kSbIac;
        } else if (sub_.bytes.size() < kLongestSubnegotiation) {
          sub_.bytes.push_back(b);
        } else {
          sub_too_long_ = true;
        }
        break;
      case State::kSbIac:
        if (b == kIac) {
          if (sub_.bytes.size() < kLongestSubnegotiation) {
            sub_.bytes.push_back(b);
          } else {
            sub_too_long_ = true;
          }
          state_ = State::kInSb;
        } else {
          // IAC SE ends it; any other command in its midst ends it too (the peer broke it off).
          if (b == kSe && !sub_too_long_) events->push_back(std::move(sub_));
          sub_ = {};
          state_ = State::kData;
        }
        break;
    }
  }
}

Negotiator::Negotiator(std::initializer_list<uint8_t> local,
                       std::initializer_list<uint8_t> remote) {
  for (uint8_t o : local) local_allowed_[o] = true;
  for (uint8_t o : remote) remote_allowed_[o] = true;
}

void Negotiator::Offer(uint8_t option, Bytes* out) {
  if (local_[option] != State::kNo) return;
  local_[option] = State::kWantYes;
  local_refused_[option] = false;
  AppendCommand(kWill, option, out);
}

void Negotiator::Ask(uint8_t option, Bytes* out) {
  if (remote_[option] != State::kNo) return;
  remote_[option] = State::kWantYes;
  AppendCommand(kDo, option, out);
}

void Negotiator::Answer(uint8_t verb, uint8_t option, Bytes* out) {
  const bool about_peer = verb == kWill || verb == kWont;
  State& state = about_peer ? remote_[option] : local_[option];
  const bool allowed = about_peer ? remote_allowed_[option] : local_allowed_[option];
  const bool enable = verb == kWill || verb == kDo;
  const uint8_t yes = about_peer ? kDo : kWill;
  const uint8_t no = about_peer ? kDont : kWont;
  if (enable) {
    if (state == State::kYes) return;  // already on: an answer would start a loop
    if (state == State::kWantYes) {
      state = State::kYes;  // the answer to this side's own request
      return;
    }
    if (allowed) {
      state = State::kYes;
      AppendCommand(yes, option, out);
    } else {
      AppendCommand(no, option, out);
    }
    return;
  }
  if (state == State::kNo) return;
  if (state == State::kWantYes) {
    if (!about_peer) local_refused_[option] = true;
  } else {
    AppendCommand(no, option, out);
  }
  state = State::kNo;
}

}  // namespace veldrane::platform::telnet
