// Serialization of the station record and the port settings (written with the archive).
#include "config/serial_port.h"
#include "config/station_info.h"

void CStationInfo::Serialize(CArchive&) {}

void CStationInfo::SerializeText(CArchive&) {}

void CSerialPort::Serialize(CArchive&) {}
