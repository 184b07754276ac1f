// ConfigWindow: the driver's configuration window. A tab sheet with the station page and the
// port page, and a column of buttons: edit, delete and add a station, copy and paste stations
// through the clipboard, save, and exit. It keeps a dirty flag for station changes, asks before
// closing with unsaved changes and tells its caller whether the configuration was saved.
#pragma once

#include <QDialog>
#include <memory>

#include "tarko/tab_sheet.h"
#include "ui/interaction.h"
#include "ui/page_owner.h"
#include "veldrane/config_window.h"

class QPushButton;
class QTabWidget;

namespace veldrane::ui {

class PortPage;
class StationDialog;
class StationPage;

// The message for pasted text whose character at `at` has no code page 949 form: its line and
// its place in the line, counted from 1.
QString NotCp949PasteText(const QString& text, qsizetype at);

class ConfigWindow : public QDialog, public PageOwner {
 public:
  ConfigWindow(window::Document& doc, Interaction& ui, QWidget* parent = nullptr);
  ~ConfigWindow() override;

  // 1 once the save steps have run, else 0: what DrvConfigure returns.
  int32_t Result() const { return result_; }
  int32_t Dirty() const { return dirty_; }

  // The commands of the button column.
  void OnEdit();
  void OnDelete();
  void OnAdd();
  void OnCopy();
  void OnPaste();
  void SaveAll();
  // Exit, Esc and the close box: asks 2705 when something changed, then closes.
  void reject() override;

  // PageOwner.
  void EnableStationButtons(bool edit, bool remove, bool add) override;
  void EditCommand() override { OnEdit(); }

  StationPage& station_page() const { return *station_page_; }
  PortPage& port_page() const { return *port_page_; }
  CTabSheet& sheet() { return sheet_; }
  QTabWidget* tabs() const { return tabs_; }
  QPushButton* edit_button() const { return edit_; }
  QPushButton* delete_button() const { return delete_; }
  QPushButton* add_button() const { return add_; }
  QPushButton* copy_button() const { return copy_; }
  QPushButton* paste_button() const { return paste_; }
  QPushButton* save_button() const { return save_; }
  QPushButton* exit_button() const { return exit_; }

 private:
  class SheetView;
  // Runs the station dialog for `station` (null: a new one) and applies what it gives.
  void EditStation(window::StationId station);

  int32_t dirty_ = 0;
  window::Document& doc_;
  Interaction& ui_;
  int32_t result_ = 0;
  ErrorBoxScope error_box_;
  QPushButton* edit_;
  QPushButton* delete_;
  QPushButton* add_;
  QPushButton* copy_;
  QPushButton* paste_;
  QPushButton* save_;
  QPushButton* exit_;
  QTabWidget* tabs_;
  CTabSheet sheet_;
  std::unique_ptr<SheetView> sheet_view_;
  StationPage* station_page_;
  PortPage* port_page_;
};

}  // namespace veldrane::ui
