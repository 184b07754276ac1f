#include "config/doc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/save_failure.h"
#include "config/station_name.h"
#include "fw/archive.h"
#include "hostlink/station_limits.h"
#include "platform/files/atomic_file.h"
#include "platform/files/os_file.h"

FW_IMPLEMENT_SERIAL(CVeldraneDoc, 1)

CVeldraneDoc::CVeldraneDoc() : header_(kHeaderType) {
  header_.SetDesc(kHeaderDesc);
}

CVeldraneDoc::~CVeldraneDoc() {
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

[[noreturn]] void ThrowFileError(const std::string& what, const char* path, int error) {
  throw CArchiveException(ArchiveCause::kFileError, 0, std::string(), error,
                          what + " " + (path ? path : ""));
}

// Runs `body`; a file error from the archive ("cannot read", "cannot write") names the file.
template <typename Body>
void NamingTheFile(const char* path, Body body) {
  try {
    body();
  } catch (const CArchiveException& e) {
    if (e.cause() != ArchiveCause::kFileError) throw;
    throw CArchiveException(e.cause(), e.offset(), e.section(), e.sys_error(),
                            e.detail() + " " + path);
  }
}

[[noreturn]] void ThrowNotRegular(const char* path, veldrane::platform::FileKind kind) {
  throw CArchiveException(ArchiveCause::kFileError, 0, std::string(), 0,
                          std::string("cannot open ") + path + ": " +
                              veldrane::platform::KindName(kind) + ", not a regular file");
}

// A configuration is a regular file: anything else is refused before it is opened, since
// opening a FIFO waits for a writer and opening a device may act on it.
void RequireRegular(const char* path) {
  namespace platform = veldrane::platform;
  errno = 0;
  platform::FileInfo info{};
  if (!path || platform::Files().info(path, &info) != 0) ThrowFileError("cannot open", path, errno);
  if (info.kind != platform::FileKind::kRegular) ThrowNotRegular(path, info.kind);
}

void OpenRegular(const char* path, veldrane::platform::OsFile& file) {
  RequireRegular(path);
  if (!file.OpenRead(path)) ThrowFileError("cannot open", path, file.LastError());
  if (file.IsRegular()) return;
  // Its size was not told: something else took the regular file's place meanwhile, or the size
  // alone failed, and then the file is read to its end.
  veldrane::platform::FileInfo info{};
  info.kind = veldrane::platform::FileKind::kOther;
  file.Info(&info);
  if (info.kind != veldrane::platform::FileKind::kRegular) ThrowNotRegular(path, info.kind);
}

[[noreturn]] void ThrowLocked(const char* path, uint32_t waited_ms) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", waited_ms / 1000.0);
  throw CArchiveException(ArchiveCause::kFileError, 0, std::string(), 0,
                          std::string(path) + " is locked by another program that is changing " +
                              "it (waited " + seconds + " s)");
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
  OpenRegular(path, file);
  NamingTheFile(path, [&] {
    CArchive ar(&file, CArchive::kLoad);
    Serialize(ar);
  });
}

void CVeldraneDoc::LoadFileForUpdate(const char* path, uint32_t lock_wait_ms) {
  using Result = veldrane::platform::FileLock::Result;
  RequireRegular(path);
  switch (update_lock_.Lock(path, lock_wait_ms)) {
    case Result::kLocked:
      break;
    case Result::kNoFile:
      ThrowFileError("cannot open", path, ENOENT);
    case Result::kTimedOut:
      ThrowLocked(path, lock_wait_ms);
    case Result::kFailed:
      ThrowFileError("cannot lock", path, update_lock_.error());
  }
  try {
    LoadFile(path);
  } catch (...) {
    update_lock_.Unlock();
    throw;
  }
}

bool CVeldraneDoc::Save() {
  std::string path = path_.GetString();
  std::string text;
  try {
    SaveFile(path_);
    return true;
  } catch (const CArchiveException& e) {
    // Its message names the file and the system's reason.
    text = veldrane::SaveFailureText(path, e.what(), e.sys_error());
  } catch (const std::exception& e) {
    text = path + ": " + e.what();
  } catch (...) {
    text = path;
  }
  CTarkoError::ErrMsg(2005, 1, text.c_str());
  return false;
}

void CVeldraneDoc::SaveFile(const char* path) {
  // The name list always matches the stations it precedes.
  names_.clear();
  for (const auto& station : stations_) names_.push_back(station->name);

  // Only a regular file is replaced: a save to a device or a FIFO (by a link, say) would put a
  // file in its place.
  namespace platform = veldrane::platform;
  std::string target;
  platform::FileInfo existing{};
  if (path && platform::FollowLinks(path, &target) &&
      platform::Files().info(target.c_str(), &existing) == 0 &&
      existing.kind != platform::FileKind::kRegular) {
    throw CArchiveException(ArchiveCause::kFileError, 0, std::string(), 0,
                            std::string("cannot save to ") + path + ": " +
                                platform::KindName(existing.kind) + ", not a regular file");
  }
  platform::AtomicFile out;
  if (!path || !out.Begin(path, &update_lock_)) {
    if (out.error() == EWOULDBLOCK && out.failed() == veldrane::platform::AtomicFile::Step::kLock) {
      ThrowLocked(path, platform::AtomicFile::kLockWaitMs);
    }
    ThrowFileError(std::string("cannot ") + out.failed_step(), path, out.error());
  }
  NamingTheFile(path, [&] {
    CArchive ar(&out.File(), CArchive::kStore);
    Serialize(ar);
    ar.Close();
  });
  if (!out.Commit()) ThrowFileError(std::string("cannot ") + out.failed_step(), path, out.error());
  update_lock_.Unlock();
}

void CVeldraneDoc::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.SetSection(kSectionHeader);
    header_.Serialize(ar);
    ar.SetSection(kSectionNames);
    ar.WriteCount(static_cast<uint32_t>(names_.size()));
    names_.ForEach([&](const CString& name) { ar << name; });
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
  NameList names;
  CSerialPort port;
  std::vector<std::unique_ptr<CStationInfo>> stations;
  try {
    ar.SetSection(kSectionHeader);
    header_.Serialize(ar);

    ar.SetSection(kSectionNames);
    uint32_t count = ar.ReadCount();
    CString name;
    for (uint32_t i = 0; i < count; ++i) {
      ar >> name;
      names.push_back(name);
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

  if (names_.empty()) {
    names_ = std::move(names);
  } else {
    for (size_t i = 0; i < names.size(); ++i) names_.push_back(names[i]);
  }
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
  // The name's length once, not once a station: a host reads every station's statistics by name.
  size_t length = std::strlen(name);
  for (const auto& station : stations_) {
    const CString& own = station->name;
    if (veldrane::SameStationName(own.GetString(), own.GetLength(), name, length)) {
      return station.get();
    }
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
