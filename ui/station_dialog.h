// StationDialog: the dialog in which a station is created or changed. It works on its own copy of
// the six settings, checks them against the document's other stations and closes with OK only
// when they are acceptable; it never changes the station or the document itself.
#pragma once

#include <QDialog>
#include <string>

#include "veldrane/config_window.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace veldrane::ui {

class Interaction;
class UpDown;

// The dialog's values (texts in code page 949).
struct StationValues {
  std::string description;
  std::string name;
  int32_t number = 0;
  uint32_t decimals = 0;
  std::string tag;
  int32_t kind = -1;  // the selected row of the kind list; -1 for none
};

// A whole number as the dialog's fields take it: blanks around it, one sign, digits, within
// 32 bits. False for anything else (an empty field included).
bool ParseInteger(const QString& text, int64_t low, int64_t high, int64_t* value);

class StationDialog : public QDialog {
 public:
  // `station` is the one edited, or null for a new one.
  StationDialog(QWidget* parent, window::Document& doc, window::StationId station, Interaction& ui);

  // Read by the caller after OK: the name already trimmed, the tag not.
  const StationValues& Values() const { return values_; }

  QLineEdit* name_field() const { return name_; }
  QComboBox* kind_list() const { return kind_; }
  QLineEdit* number_field() const { return number_; }
  QLineEdit* decimals_field() const { return decimals_; }
  QLineEdit* tag_field() const { return tag_; }
  QLineEdit* description_field() const { return description_; }
  UpDown* number_updown() const { return number_spin_; }
  UpDown* decimals_updown() const { return decimals_spin_; }
  QPushButton* browse_button() const { return browse_; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* cancel_button() const { return cancel_; }

  // OK ("등 록"): transfers the fields in their order, then checks name and number.
  void accept() override;

 private:
  // Reads the controls into the values, stopping at the first field refused (focus moved there).
  bool TransferFromControls();
  // A text field into its value; a character that code page 949 lacks refuses the field.
  bool TransferText(QLineEdit* field, std::string* value);
  // Shows the host's error box with `id` and moves the focus to `field`, its text selected.
  void Refuse(int32_t id, QLineEdit* field);
  void FocusField(QLineEdit* field);
  void OnBrowse();

  window::Document& doc_;
  window::StationId station_;
  Interaction& ui_;
  StationValues values_;

  QLineEdit* name_;
  QComboBox* kind_;
  QLineEdit* number_;
  UpDown* number_spin_;
  QLineEdit* decimals_;
  UpDown* decimals_spin_;
  QPushButton* browse_;
  QLineEdit* tag_;
  QLineEdit* description_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace veldrane::ui
