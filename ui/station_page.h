// StationPage: the first page of the configuration window. The document's stations as a
// two-level tree (the configuration, then one item per station in list order); it keeps the
// window's station buttons in step with the selection, turns a double click into the edit
// command and carries stations to and from the text lines of the clipboard.
#pragma once

#include <QWidget>
#include <string>

#include "tarko/tab_sheet.h"
#include "veldrane/config_window.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace veldrane::ui {

class PageOwner;

class StationPage : public QWidget, public CTabPage {
 public:
  explicit StationPage(window::Document& doc, QWidget* parent = nullptr);

  void SetOwner(PageOwner* owner) { owner_ = owner; }
  // Rebuilds the whole tree from the document, the root expanded.
  void RefreshTree();
  // Adds the station's item as the last child of the root and selects it.
  void InsertStation(window::StationId station);
  // Relabels the station's item in place.
  void UpdateStation(window::StationId station);
  // The selected item's station (null for the root) and its image (0 root, 1 station); with
  // nothing selected null, and `image` is left as it was.
  window::StationId GetSelectedStation(int* image) const;
  // Deletes the selected item, if any; the document is not touched.
  void DeleteSelectedItem();
  // Edit and delete enabled exactly when a station is selected; add always.
  void UpdateButtons();

  // Copy: the lines of the selected station, of every station when the root is selected,
  // none when nothing is.
  std::string CopyText() const;
  // Paste: merges the accepted lines into the document and rebuilds the tree when at least one
  // was taken; 1 then, else 0.
  int PasteText(const std::string& text);

  void OnShowPage(bool shown) override;

  QTreeWidget* tree() const { return tree_; }
  QTreeWidgetItem* root() const { return root_; }
  // The item of a station, or null.
  QTreeWidgetItem* ItemOf(window::StationId station) const;

 private:
  QTreeWidgetItem* AddStationItem(window::StationId station);
  void OnSelectionChanged();

  window::Document& doc_;
  PageOwner* owner_ = nullptr;
  QTreeWidget* tree_;
  QTreeWidgetItem* root_ = nullptr;
  window::StationId selected_ = nullptr;
};

}  // namespace veldrane::ui
