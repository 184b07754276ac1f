// The configuration window's view of a CVeldraneDoc (veldrane/config_window.h).
#pragma once

#include <functional>

#include "config/doc.h"
#include "veldrane/config_window.h"

namespace veldrane {

class WindowDocument : public window::Document {
 public:
  // `browse` is the host's tag browser (TgBrowseTag); empty when there is none.
  using BrowseFn = std::function<int32_t(CString* tag)>;
  WindowDocument(CVeldraneDoc& doc, BrowseFn browse);

  std::string Title() const override;
  window::PortFields GetPort() const override;
  void SetPort(const window::PortFields& port) override;
  std::vector<window::StationId> Stations() const override;
  window::StationFields GetStation(window::StationId station) const override;
  std::string Label(window::StationId station) const override;
  window::StationId Apply(window::StationId station, const window::StationFields& f) override;
  void Remove(window::StationId station) override;
  int32_t CheckName(const std::string& name, window::StationId exclude) const override;
  int32_t CheckNumber(int32_t number, window::StationId exclude) const override;
  std::string StationLines(window::StationId station) const override;
  int64_t PasteLines(const std::string& text) override;
  bool Save() override;
  bool HasTagBrowser() const override;
  int32_t BrowseTag(std::string& tag) override;

 private:
  CStationInfo* Find(window::StationId station) const;

  CVeldraneDoc& doc_;
  BrowseFn browse_;
};

}  // namespace veldrane
