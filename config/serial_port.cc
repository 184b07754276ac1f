#include "config/serial_port.h"

FW_IMPLEMENT_SERIAL(CSerialPort, 1)

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
