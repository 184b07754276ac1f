// Serialization of the station record and the port settings: one function for both directions,
// the archive telling which.
#include "config/serial_port.h"
#include "config/station_info.h"
#include "fw/archive.h"

void CStationInfo::Serialize(CArchive& ar) {
  // The integers stand in the order kind, station number, decimals.
  if (ar.IsStoring()) {
    ar << name << description << kind << number << decimals << tag_name;
  } else {
    ar >> name >> description >> kind >> number >> decimals >> tag_name;
  }
}

void CStationInfo::SerializeText(CArchive& ar) {
  if (!ar.IsStoring()) return;
  CString line;
  // Decimals go through %d like the other numbers.
  line.Format("%s\t%d\t%d\t%d\t%s\t%s\r\n", name.GetString(), kind, number,
              static_cast<int32_t>(decimals), tag_name.GetString(), description.GetString());
  ar.WriteString(line.GetString());
}

void CSerialPort::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << port_index << baud_index << parity_index << data_bits << stop_bits << option_flags;
  } else {
    ar >> port_index >> baud_index >> parity_index >> data_bits >> stop_bits >> option_flags;
  }
}
