#include "config/doc.h"

#include "config/station_name.h"

FW_IMPLEMENT_SERIAL(CVeldraneDoc, 1)

CVeldraneDoc::CVeldraneDoc() : header_(kHeaderType) { header_.SetDesc(kHeaderDesc); }

CVeldraneDoc::~CVeldraneDoc() {
  // The engine goes first: its thread reads the stations.
  engine_.reset();
  stations_.clear();
}

void CVeldraneDoc::SetPath(const char* path) {
  path_ = path;
  const char* text = path_.GetString();
  size_t length = path_.GetLength();
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\\' || text[i] == '/') start = i + 1;
  }
  size_t end = length;
  for (size_t i = length; i > start; --i) {
    if (text[i - 1] == '.') {
      end = i - 1;
      break;
    }
  }
  size_t title_length = end - start;
  if (title_length > 255) title_length = 255;
  title_.Assign(text + start, title_length);
}

bool CVeldraneDoc::Load(const char*) { return false; }

void CVeldraneDoc::Save() {}

void CVeldraneDoc::Serialize(CArchive&) {}

void CVeldraneDoc::ResetStats(const char* name) {
  if (!name) {
    for (auto& station : stations_) station->ResetStats();
    return;
  }
  if (CStationInfo* station = FindStation(name)) station->ResetStats();
}

void CVeldraneDoc::GetStationInfo(const char* name, CString* number, CString* tag) const {
  const CStationInfo* station = FindStation(name);
  if (!station) return;
  CString address, tag_name;
  station->GetAddress(address, tag_name);
  if (number) *number = address;
  if (tag) *tag = tag_name;
}

CStationInfo* CVeldraneDoc::FindStation(const char* name) const {
  if (!name) return nullptr;
  for (const auto& station : stations_) {
    if (veldrane::SameStationName(station->name, name)) return station.get();
  }
  return nullptr;
}

int32_t CVeldraneDoc::CheckName(const char* name, const CStationInfo* exclude) const {
  for (const auto& station : stations_) {
    if (station.get() != exclude && veldrane::SameStationName(station->name, name)) {
      return kNameUsed;
    }
  }
  return 0;
}

int32_t CVeldraneDoc::CheckNumber(int32_t number, const CStationInfo* exclude) const {
  if (number < 0 || number > 255) return kNumberInvalid;
  for (const auto& station : stations_) {
    if (station.get() != exclude && station->number == number) return kNumberUsed;
  }
  return 0;
}

void CVeldraneDoc::MergeStation(const CStationInfo& record) {
  if (CStationInfo* station = FindStation(record.name)) {
    station->CopyConfig(record);
    return;
  }
  auto station = std::make_unique<CStationInfo>();
  station->CopyConfig(record);
  stations_.push_back(std::move(station));
}
