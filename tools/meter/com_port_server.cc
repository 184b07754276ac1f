#include "tools/meter/com_port_server.h"

namespace veldrane::meter {

namespace tn = platform::telnet;

namespace {

uint8_t ParityCode(char parity) {
  switch (parity) {
    case 'O':
      return tn::kParityOdd;
    case 'E':
      return tn::kParityEven;
    case 'M':
      return tn::kParityMark;
    case 'S':
      return tn::kParitySpace;
    default:
      return tn::kParityNone;
  }
}

}  // namespace

bool ComPortServer::Handle(const tn::Bytes& sub, tn::Bytes* out) {
  if (sub.empty()) return false;
  const uint8_t command = sub[0];
  const uint8_t value = sub.size() > 1 ? sub[1] : 0;
  const LineSettings before = line_;
  const uint8_t answer = static_cast<uint8_t>(command + tn::kServerOffset);
  switch (command) {
    case tn::kSetBaudRate: {
      if (sub.size() < 5) return false;
      uint32_t baud = uint32_t{sub[1]} << 24 | uint32_t{sub[2]} << 16 | uint32_t{sub[3]} << 8 |
                      uint32_t{sub[4]};
      if (baud != 0) line_.baud = baud;  // 0 asks for the rate in force
      tn::AppendComPort(answer, tn::BaudRateValue(line_.baud), out);
      break;
    }
    case tn::kSetDataSize:
      if (value >= 5 && value <= 8) line_.data_bits = value;
      tn::AppendComPort(answer, {static_cast<uint8_t>(line_.data_bits)}, out);
      break;
    case tn::kSetParity: {
      static constexpr char kParities[] = {'N', 'O', 'E', 'M', 'S'};
      if (value >= tn::kParityNone && value <= tn::kParitySpace) {
        line_.parity = kParities[value - tn::kParityNone];
      }
      tn::AppendComPort(answer, {ParityCode(line_.parity)}, out);
      break;
    }
    case tn::kSetStopSize:
      // 1.5 stop bits is no setting of this meter: the answer tells what stays.
      if (value == tn::kStopOne || value == tn::kStopTwo) line_.stop_bits = value;
      tn::AppendComPort(answer, {static_cast<uint8_t>(line_.stop_bits)}, out);
      break;
    case tn::kSetControl: {
      uint8_t now = value;
      if (value == 0) now = tn::kNoFlowControl;  // asks for the flow control in force
      if (value == tn::kDtrOn || value == tn::kDtrOff) dtr_ = value == tn::kDtrOn;
      if (value == tn::kDtrRequest) now = dtr_ ? tn::kDtrOn : tn::kDtrOff;
      if (value == tn::kRtsRequest) now = rts_ ? tn::kRtsOn : tn::kRtsOff;
      const bool rts_was = rts_;
      if (value == tn::kRtsOn || value == tn::kRtsOff) rts_ = value == tn::kRtsOn;
      tn::AppendComPort(answer, {now}, out);
      if (rts_ != rts_was && (modem_mask_ & (tn::kCts | tn::kDeltaCts))) {
        const uint8_t state = static_cast<uint8_t>((rts_ ? tn::kCts : 0) | tn::kDeltaCts);
        tn::AppendComPort(tn::kNotifyModemState + tn::kServerOffset, {state}, out);
      }
      break;
    }
    case tn::kSetModemStateMask:
      modem_mask_ = value;
      tn::AppendComPort(answer, {value}, out);
      break;
    case tn::kSetLineStateMask:
    case tn::kPurgeData:
      tn::AppendComPort(answer, {value}, out);
      break;
    default:
      return false;
  }
  return line_.baud != before.baud || line_.parity != before.parity ||
         line_.data_bits != before.data_bits || line_.stop_bits != before.stop_bits;
}

}  // namespace veldrane::meter
