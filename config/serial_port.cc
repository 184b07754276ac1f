#include "config/serial_port.h"

FW_IMPLEMENT_SERIAL(CSerialPort, 1)

namespace {

struct ParityChoice {
  veldrane::platform::Parity parity;
  char letter;
};

// By parity index, as the port page offers them.
constexpr ParityChoice kParities[] = {{veldrane::platform::Parity::kNone, 'N'},
                                      {veldrane::platform::Parity::kEven, 'E'},
                                      {veldrane::platform::Parity::kOdd, 'O'}};

const ParityChoice& Choice(const CSerialPort& port) {
  return kParities[port.KnownParity() ? port.parity_index : 0];
}

}  // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() = default;

void CSerialPort::CopyFrom(const CSerialPort& other) {
  port_index = other.port_index;
  baud_index = other.baud_index;
  parity_index = other.parity_index;
  data_bits = other.data_bits;
  stop_bits = other.stop_bits;
  option_flags = other.option_flags;
}

veldrane::platform::Parity CSerialPort::LineParity() const {
  return Choice(*this).parity;
}

char CSerialPort::ParityLetter() const {
  return Choice(*this).letter;
}

uint32_t CSerialPort::BaudRate() const {
  if (baud_index < 0 || baud_index > 7) return 0;
  return 300u << baud_index;
}

CString CSerialPort::DeviceName() const {
  CString name;
  if (port_index < 9) {
    name.Format("COM%d", port_index + 1);
  } else {
    name.Format("\\\\.\\COM%d", port_index + 1);
  }
  return name;
}

std::vector<std::string> CSerialPort::LineProblems() const {
  std::vector<std::string> problems;
  if (baud_index < 0 || baud_index > 7) {
    problems.push_back("baud index " + std::to_string(baud_index) + " outside 0 to 7");
  }
  if (parity_index < 0 || parity_index > 2) {
    problems.push_back("parity index " + std::to_string(parity_index) + " outside 0 to 2");
  }
  return problems;
}

veldrane::platform::SerialSettings CSerialPort::LineSettings() const {
  using veldrane::platform::Parity;
  veldrane::platform::SerialSettings s;
  s.baud_rate = BaudRate();
  s.byte_size = static_cast<uint8_t>(ByteSize());
  s.parity = parity_index == 1 ? Parity::kEven : parity_index == 2 ? Parity::kOdd : Parity::kNone;
  s.stop_bits = static_cast<uint8_t>(StopBitCount());
  s.rts_cts = RtsCts();
  return s;
}
