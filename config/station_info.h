// CStationInfo: one display station (one meter on the line).
//
// The six configured fields are stored in the configuration file and copied as text lines; the
// run-time fields start at their initial values after every load. The transmit thread writes
// pending, value and the counters while the host's thread reads statistics, resets counters and
// changes `enabled`, so those are atomics; the configured fields do not change while an engine
// runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "fw/cstring.h"
#include "fw/object.h"

class CStationInfo : public CObject {
  FW_DECLARE_SERIAL(CStationInfo)

 public:
  // Consecutive failures at which a station counts as lost (message 10) and stops reporting.
  static constexpr int32_t kLostThreshold = 5;

  CStationInfo();
  ~CStationInfo() override;

  // "NAME (N국) : TAG", the station's item in the configuration tree.
  void GetLabel(CString& out) const;
  // Copies the four counters; -1 when disabled, else 1 while failing, else 0.
  int32_t GetStats(int32_t& sent, int32_t& failed, int32_t& third, int32_t& fourth) const;
  // The station number as "%d" and the tag name.
  void GetAddress(CString& address, CString& tag) const;
  // Zeroes the four counters; the failure count, enabled and pending stay.
  void ResetStats();
  // One transmission outcome: 0 success, otherwise the number of the failure message
  // (kMessageSendFailed).
  void RecordResult(int32_t code, int32_t arg);
  // Copies the six configured fields from another record.
  void CopyConfig(const CStationInfo& from);

  void Serialize(CArchive& ar) override;
  // Storing: writes the station's text line. Loading: nothing.
  void SerializeText(CArchive& ar);

  // Configured fields, in file order of declaration; the numbers' limits are in
  // station_limits.h.
  CString name;
  CString description;
  uint32_t decimals = 0;  // 0 to 7
  int32_t number = 0;     // station number on the line, 0 to 255
  int32_t kind = 0;       // meter model, 0 to 6
  CString tag_name;       // empty: no tag

  // Run-time fields.
  void* tree_item = nullptr;  // the configuration window's tree item; never stored
  std::atomic<int32_t> enabled{1};
  std::atomic<int32_t> frames_sent{0};
  std::atomic<int32_t> frames_failed{0};
  std::atomic<int32_t> third_counter{0};   // reported and reset; nothing increments it
  std::atomic<int32_t> fourth_counter{0};  // reported and reset; nothing increments it
  std::atomic<int32_t> consecutive_failures{0};
  std::atomic<int32_t> pending{0};
  std::atomic<int32_t> tag_index{-1};  // in the host's tag database; -1 not resolved
  std::atomic<double> value{0.0};      // the last value received; 0.0 until one arrives
};
