#include "config/station_info.h"

#include "hostlink/report.h"
#include "hostlink/texts.h"

FW_IMPLEMENT_SERIAL(CStationInfo, 1)

CStationInfo::CStationInfo() = default;

CStationInfo::~CStationInfo() = default;

void CStationInfo::GetLabel(CString& out) const {
  out.Format(veldrane::texts::kLabelFormat, name.GetString(), number, tag_name.GetString());
}

int32_t CStationInfo::GetStats(int32_t& sent, int32_t& failed, int32_t& third,
                               int32_t& fourth) const {
  sent = frames_sent.load();
  failed = frames_failed.load();
  third = third_counter.load();
  fourth = fourth_counter.load();
  if (enabled.load() == 0) return -1;
  return consecutive_failures.load() > 0 ? 1 : 0;
}

void CStationInfo::GetAddress(CString& address, CString& tag) const {
  address.Format("%d", number);
  tag = tag_name;
}

void CStationInfo::ResetStats() {
  frames_sent.store(0);
  frames_failed.store(0);
  third_counter.store(0);
  fourth_counter.store(0);
}

void CStationInfo::RecordResult(int32_t code, int32_t arg) {
  using veldrane::ReportMessage;
  int32_t count = consecutive_failures.load();
  if (code == 0) {
    if (count >= kLostThreshold) {
      ReportMessage(veldrane::kMessageStationRestored, veldrane::kLevelState, name, 0);
    }
    consecutive_failures.store(0);
    return;
  }
  if (count >= kLostThreshold) return;
  ReportMessage(code, veldrane::kLevelFailure, name, arg);
  consecutive_failures.store(++count);
  if (count >= kLostThreshold) {
    ReportMessage(veldrane::kMessageStationLost, veldrane::kLevelState, name, 0);
  }
}

void CStationInfo::CopyConfig(const CStationInfo& from) {
  name = from.name;
  description = from.description;
  decimals = from.decimals;
  number = from.number;
  kind = from.kind;
  tag_name = from.tag_name;
}
