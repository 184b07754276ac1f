// The device server's side of the Telnet COM-PORT-OPTION, for the virtual meter: it takes the
// line settings and control lines that the client sets, and answers each command with the
// command plus 100 and the value now in force. RTS is looped back to CTS, as on a line whose
// converter answers the handshake at once, so that a driver's RTS/CTS mode can be watched too.
#pragma once

#include "platform/net/telnet_codec.h"
#include "tools/meter/meter_line.h"

namespace veldrane::meter {

class ComPortServer {
 public:
  explicit ComPortServer(const LineSettings& line) : line_(line) {}

  // One subnegotiation of the option (the command, then its value): the answer, and a notice
  // of the modem state where CTS changed, appended to `out`. True when the line settings
  // changed.
  bool Handle(const platform::telnet::Bytes& sub, platform::telnet::Bytes* out);

  const LineSettings& line() const { return line_; }
  bool rts() const { return rts_; }

 private:
  LineSettings line_;
  bool rts_ = false;
  bool dtr_ = false;
  uint8_t modem_mask_ = 255;  // what the client wants to hear of, all until it says
};

}  // namespace veldrane::meter
