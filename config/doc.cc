#include "config/doc.h"

#include <string>

#include "config/station_limits.h"
#include "config/station_name.h"
#include "fw/archive.h"
#include "platform/atomic_file.h"
#include "platform/os_file.h"

FW_IMPLEMENT_SERIAL(CVeldraneDoc, 1)

CVeldraneDoc::CVeldraneDoc() : header_(kHeaderType) {
  header_.SetDesc(kHeaderDesc);
}

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

namespace {

// The sections of the file, as failures name them.
constexpr const char* kSectionHeader = "header";
constexpr const char* kSectionNames = "station names";
constexpr const char* kSectionPort = "port settings";
constexpr const char* kSectionStations = "stations";

[[noreturn]] void ThrowFileError(const char* what, const char* path, int error) {
  throw CArchiveException(ArchiveCause::kFileError, 0, std::string(), error,
                          std::string(what) + " " + (path ? path : ""));
}

}  // namespace

bool CVeldraneDoc::Load(const char* path) {
  try {
    LoadFile(path);
    return true;
  } catch (...) {
    return false;
  }
}

void CVeldraneDoc::LoadFile(const char* path) {
  veldrane::platform::OsFile file;
  if (!path || !file.OpenRead(path)) ThrowFileError("cannot open", path, file.LastError());
  CArchive ar(&file, CArchive::kLoad);
  Serialize(ar);
}

void CVeldraneDoc::Save() {
  try {
    SaveFile(path_);
  } catch (...) {
    CTarkoError::ErrMsg(2005, 1, path_.GetString());
  }
}

void CVeldraneDoc::SaveFile(const char* path) {
  // The name list always matches the stations it precedes.
  names_.clear();
  names_.reserve(stations_.size());
  for (const auto& station : stations_) names_.push_back(station->name);

  veldrane::platform::AtomicFile out;
  if (!path || !out.Begin(path)) {
    ThrowFileError((std::string("cannot ") + out.failed_step()).c_str(), path, out.error());
  }
  CArchive ar(&out.File(), CArchive::kStore);
  Serialize(ar);
  ar.Close();
  if (!out.Commit()) {
    ThrowFileError((std::string("cannot ") + out.failed_step()).c_str(), path, out.error());
  }
}

void CVeldraneDoc::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.SetSection(kSectionHeader);
    header_.Serialize(ar);
    ar.SetSection(kSectionNames);
    ar.WriteCount(static_cast<uint32_t>(names_.size()));
    for (const CString& name : names_) ar << name;
    ar.SetSection(kSectionPort);
    port_.Serialize(ar);
    ar.SetSection(kSectionStations);
    ar.WriteCount(static_cast<uint32_t>(stations_.size()));
    for (const auto& station : stations_) ar.WriteObject(*station);
    return;
  }

  // Loading: everything goes to temporaries first, so that a file that fails anywhere leaves
  // nothing of itself in the document.
  const CString old_desc = header_.GetDesc();
  std::vector<CString> names;
  CSerialPort port;
  std::vector<std::unique_ptr<CStationInfo>> stations;
  try {
    ar.SetSection(kSectionHeader);
    header_.Serialize(ar);

    ar.SetSection(kSectionNames);
    uint32_t count = ar.ReadCount();
    for (uint32_t i = 0; i < count; ++i) {
      names.emplace_back();
      ar >> names.back();
    }

    ar.SetSection(kSectionPort);
    port.Serialize(ar);

    ar.SetSection(kSectionStations);
    count = ar.ReadCount();
    for (uint32_t i = 0; i < count; ++i) {
      std::unique_ptr<CObject> object = ar.ReadObject(&CStationInfo::kRuntimeClass);
      // ReadObject made an object of exactly this class.
      stations.emplace_back(static_cast<CStationInfo*>(object.release()));
    }
    ar.ExpectEnd();
  } catch (...) {
    header_.SetDesc(old_desc.GetString());
    throw;
  }

  for (CString& name : names) names_.push_back(std::move(name));
  port_.CopyFrom(port);
  for (auto& station : stations) stations_.push_back(std::move(station));
}

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
  if (!veldrane::IsValidStationNumber(number)) return kNumberInvalid;
  for (const auto& station : stations_) {
    if (station.get() != exclude && station->number == number) return kNumberUsed;
  }
  return 0;
}

void CVeldraneDoc::MergeStation(const CStationInfo& record) {
  MergeStation(record, FindStation(record.name));
}

CStationInfo& CVeldraneDoc::MergeStation(const CStationInfo& record, CStationInfo* match) {
  if (match) {
    match->CopyConfig(record);
    return *match;
  }
  auto station = std::make_unique<CStationInfo>();
  station->CopyConfig(record);
  stations_.push_back(std::move(station));
  return *stations_.back();
}
