#include "driver/window_document.h"

#include <algorithm>

#include "config/text_lines.h"
#include "fw/archive.h"

namespace veldrane {

using window::StationId;

WindowDocument::WindowDocument(CVeldraneDoc& doc, BrowseFn browse)
    : doc_(doc), browse_(std::move(browse)) {}

std::string WindowDocument::Title() const {
  return doc_.GetTitle().GetString();
}

window::PortFields WindowDocument::GetPort() const {
  const CSerialPort& p = doc_.Port();
  return {p.port_index, p.baud_index, p.parity_index, p.data_bits, p.stop_bits, p.option_flags};
}

void WindowDocument::SetPort(const window::PortFields& port) {
  CSerialPort& p = doc_.Port();
  p.port_index = port.port_index;
  p.baud_index = port.baud_index;
  p.parity_index = port.parity_index;
  p.data_bits = port.data_bits;
  p.stop_bits = port.stop_bits;
  p.option_flags = port.option_flags;
}

std::vector<StationId> WindowDocument::Stations() const {
  std::vector<StationId> ids;
  ids.reserve(doc_.Stations().size());
  for (const auto& station : doc_.Stations()) ids.push_back(station.get());
  return ids;
}

CStationInfo* WindowDocument::Find(StationId station) const {
  for (const auto& s : doc_.Stations()) {
    if (s.get() == station) return s.get();
  }
  return nullptr;
}

window::StationFields WindowDocument::GetStation(StationId station) const {
  window::StationFields f;
  if (const CStationInfo* s = Find(station)) {
    f = {s->name.GetString(),    s->description.GetString(), s->decimals, s->number, s->kind,
         s->tag_name.GetString()};
  }
  return f;
}

std::string WindowDocument::Label(StationId station) const {
  CString label;
  if (const CStationInfo* s = Find(station)) s->GetLabel(label);
  return std::string(label.GetString(), label.GetLength());
}

StationId WindowDocument::Apply(StationId station, const window::StationFields& f) {
  CStationInfo* target = Find(station);
  std::unique_ptr<CStationInfo> added;
  if (!target) {
    added = std::make_unique<CStationInfo>();
    target = added.get();
  }
  // The copy-back: every configured field, then the tag trimmed; run-time fields stay.
  target->name.Assign(f.name.data(), f.name.size());
  target->description.Assign(f.description.data(), f.description.size());
  target->decimals = f.decimals;
  target->number = f.number;
  target->kind = f.kind;
  target->tag_name.Assign(f.tag.data(), f.tag.size());
  target->tag_name.Trim();
  if (added) doc_.Stations().push_back(std::move(added));
  return target;
}

void WindowDocument::Remove(StationId station) {
  auto& list = doc_.Stations();
  auto it =
      std::find_if(list.begin(), list.end(), [&](const auto& s) { return s.get() == station; });
  if (it != list.end()) list.erase(it);
}

int32_t WindowDocument::CheckName(const std::string& name, StationId exclude) const {
  return doc_.CheckName(name.c_str(), static_cast<const CStationInfo*>(exclude));
}

int32_t WindowDocument::CheckNumber(int32_t number, StationId exclude) const {
  return doc_.CheckNumber(number, static_cast<const CStationInfo*>(exclude));
}

std::string WindowDocument::StationLines(StationId station) const {
  CMemFile file;
  CArchive ar(&file, CArchive::kStore);
  if (!station) {
    WriteStationLines(ar, doc_);
  } else if (CStationInfo* s = Find(station)) {
    s->SerializeText(ar);
  }
  ar.Close();
  return file.Data();
}

int64_t WindowDocument::PasteLines(const std::string& text) {
  CMemFile file(text.data(), text.size());
  CArchive ar(&file, CArchive::kLoad);
  return ReadStationLines(ar, doc_).applied;
}

bool WindowDocument::Save() {
  return doc_.Save();
}

bool WindowDocument::HasTagBrowser() const {
  return static_cast<bool>(browse_);
}

int32_t WindowDocument::BrowseTag(std::string& tag) {
  if (!browse_) return 0;
  CString value(tag.data(), tag.size());
  int32_t chosen = browse_(&value);
  if (chosen) tag.assign(value.GetString(), value.GetLength());
  return chosen;
}

}  // namespace veldrane
