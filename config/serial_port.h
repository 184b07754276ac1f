// CSerialPort: the serial line settings of one configuration, stored as the indexes of the
// choices the port page offers and turned into line values only when the port opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fw/cstring.h"
#include "fw/object.h"
#include "platform/serial/serial_device.h"

class CSerialPort : public CObject {
  FW_DECLARE_SERIAL(CSerialPort)

 public:
  static constexpr uint32_t kRtsCtsBit = 2;

  CSerialPort();
  ~CSerialPort() override;

  // Copies the six fields.
  void CopyFrom(const CSerialPort& other);
  // The six fields as six 32-bit integers, no object tag.
  void Serialize(CArchive& ar) override;

  bool RtsCts() const { return ((option_flags >> 1) & 1) == 1; }
  // Sets or clears the handshake bit alone; every other bit is carried along.
  void SetRtsCts(bool on) { option_flags = (option_flags & ~kRtsCtsBit) | ((on ? 1u : 0u) << 1); }

  // Line values.
  int32_t ComNumber() const { return port_index + 1; }
  // 300 shifted left by the baud index; 0 for an index outside 0 to 7, which no page offers.
  uint32_t BaudRate() const;
  int32_t ByteSize() const { return data_bits != 0 ? 8 : 7; }
  int32_t StopBitCount() const { return stop_bits != 0 ? 2 : 1; }
  // The parity by its index: 0 none, 1 even, 2 odd. An index that no page offers is unknown and
  // the line runs without parity.
  bool KnownParity() const { return parity_index >= 0 && parity_index <= 2; }
  veldrane::platform::Parity LineParity() const;
  // 'N', 'E' or 'O' for the line's parity, as in "9600 8N1".
  char ParityLetter() const;
  // "COM3" below COM10, "\\.\COM12" from COM10 on: the name messages and the port map use.
  CString DeviceName() const;

  // The settings that have no line value ("baud index 9 outside 0 to 7"), one text each; empty
  // when the port can be opened with them. Data and stop bits have none: 0 and any other value
  // each have a meaning.
  std::vector<std::string> LineProblems() const;
  // The line the settings give, for a port whose LineProblems() are none.
  veldrane::platform::SerialSettings LineSettings() const;

  int32_t port_index = 0;     // 0 is COM1
  int32_t baud_index = 5;     // 9600
  int32_t parity_index = 0;   // 0 none, 1 even, 2 odd
  int32_t data_bits = 1;      // 0: 7 bits, otherwise 8
  int32_t stop_bits = 0;      // 0: one, otherwise two
  uint32_t option_flags = 0;  // bit 1: RTS/CTS handshake
};
