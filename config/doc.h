// CVeldraneDoc: one opened configuration: its stations and its port settings. The engine that
// runs it belongs to the driver's instance (driver/driver_instance.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "config/name_list.h"
#include "config/serial_port.h"
#include "config/station_info.h"
#include "fw/cstring.h"
#include "fw/object.h"
#include "platform/files/file_lock.h"
#include "tarko/header.h"

class CVeldraneDoc : public CObject {
  FW_DECLARE_SERIAL(CVeldraneDoc)

 public:
  // Codes of the station checks: string-table ids of the messages the dialog shows.
  static constexpr int32_t kNameUsed = 2701;
  static constexpr int32_t kNumberUsed = 2702;
  static constexpr int32_t kNumberInvalid = 2703;
  // The header every configuration file of this driver starts with.
  static constexpr int32_t kHeaderType = 3;
  static constexpr const char* kHeaderDesc = "Veldrane.Dll";

  CVeldraneDoc();
  ~CVeldraneDoc() override;

  // Path and title ("D:\proj\LINE1.cfg" gives LINE1).
  void SetPath(const char* path);
  const CString& GetPath() const { return path_; }
  const CString& GetTitle() const { return title_; }

  // Reads the file into this (newly constructed) document: true on success. A file that fails
  // leaves nothing of itself in the document.
  bool Load(const char* path);
  // Writes the configuration to the stored path; shows error 2005 on failure, its text the
  // failure naming the path, the cause and the remedy where there is one (config/save_failure.h),
  // and then leaves an existing file exactly as it was. True when the file was written.
  bool Save();
  // Load and save without the error box: a failure throws CArchiveException, which names the
  // file, the cause, the byte offset and the section (the header, the station names, the port
  // settings, the stations). Only a regular file is read: anything else (a FIFO, a device, a
  // directory) is refused before it is opened. Saving replaces the file as a whole, following
  // symbolic links, under the file's lock (platform/files/atomic_file.h).
  void LoadFile(const char* path);
  void SaveFile(const char* path);
  // Loading for a read-modify-write: takes the file's lock first (waiting up to `lock_wait_ms`
  // for another program that holds it) and holds it until this document has saved to the same
  // file or goes away, so that programs updating one configuration take turns and none loses
  // another's changes. A lock not had in time fails like a file error and reads nothing.
  void LoadFileForUpdate(const char* path, uint32_t lock_wait_ms = kLockWaitMs);
  static constexpr uint32_t kLockWaitMs = 10000;
  // Loading reads the whole archive into temporaries, checks that nothing follows the station
  // list and only then appends the names and stations and takes the port settings.
  void Serialize(CArchive& ar) override;

  int32_t Request(int32_t, int32_t, int32_t, int32_t, int32_t) { return -1; }
  int32_t Notify(int32_t, int32_t) { return 0; }
  void ResetStats(const char* name);
  void GetStationInfo(const char* name, CString* number, CString* tag) const;

  // The first station whose name equals `name` (station_name.h); null for a null name.
  CStationInfo* FindStation(const char* name) const;
  // 0, or kNameUsed when a station other than `exclude` has this name.
  int32_t CheckName(const char* name, const CStationInfo* exclude) const;
  // 0, kNumberInvalid outside 0 to 255, or kNumberUsed when a station other than `exclude`
  // has this number.
  int32_t CheckNumber(int32_t number, const CStationInfo* exclude) const;
  // Updates the station of the same name with the record's six fields, or appends a new one.
  void MergeStation(const CStationInfo& record);
  // The same once the match is known (null: none): copies the six fields into `match` or into a
  // new station at the end of the list, and returns that station.
  CStationInfo& MergeStation(const CStationInfo& record, CStationInfo* match);

  // Direct access for the engine and the configuration window.
  std::vector<std::unique_ptr<CStationInfo>>& Stations() { return stations_; }
  const std::vector<std::unique_ptr<CStationInfo>>& Stations() const { return stations_; }
  CSerialPort& Port() { return port_; }
  const CSerialPort& Port() const { return port_; }
  const NameList& Names() const { return names_; }

 private:
  CString path_;
  CString title_;
  CTarkoHeader header_;
  NameList names_;
  CSerialPort port_;
  std::vector<std::unique_ptr<CStationInfo>> stations_;
  veldrane::platform::FileLock update_lock_;  // from LoadFileForUpdate to the next save
};
