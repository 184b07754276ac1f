#include "tools/meter/meter_config.h"

#include "config/doc.h"
#include "fw/archive.h"
#include "platform/text/display_text.h"

namespace veldrane::meter {

bool ReadMeterConfig(const std::string& path, MeterConfig& config, std::string* error) {
  CVeldraneDoc doc;
  try {
    // LoadFile rather than Load: the cause of a failure instead of the host's error box.
    doc.LoadFile(path.c_str());
  } catch (const CArchiveException& e) {
    *error = e.cause() == ArchiveCause::kFileError
                 ? std::string(e.what())
                 : path + " is damaged or not a configuration file: " + e.what();
    return false;
  } catch (const std::exception& e) {
    *error = path + ": " + e.what();
    return false;
  }
  config.stations.clear();
  for (const auto& station : doc.Stations()) {
    // The name as the terminal shows it: UTF-8, control characters escaped.
    config.stations.push_back(
        {station->number, station->kind, station->decimals,
         platform::DisplayCp949({station->name.GetString(), station->name.GetLength()})});
  }
  const CSerialPort& port = doc.Port();
  config.line.baud = port.BaudRate();
  config.line.parity = port.ParityLetter();
  config.line.data_bits = port.ByteSize();
  config.line.stop_bits = port.StopBitCount();
  return true;
}

}  // namespace veldrane::meter
