// PortPage: the second page of the configuration window. The port settings as two lists,
// three radio-button groups and a check box; it tracks whether the user touched any of them and
// writes them back into the port settings when the window saves.
#pragma once

#include <QWidget>

#include "tarko/tab_sheet.h"
#include "veldrane/config_window.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QRadioButton;

namespace veldrane::ui {

class PageOwner;

// The page's fields; -1 stands for nothing selected.
struct PortChoices {
  int32_t baud_row = -1;
  int32_t port_row = -1;
  int32_t stop_bits = -1;
  int32_t data_bits = -1;
  int32_t parity = -1;
  int32_t handshake = 0;
};

// The mapping between the page and the port settings. Saving writes the five choices as they
// are (-1 included) and replaces only the handshake bit of the option flags.
PortChoices ChoicesFromPort(const window::PortFields& port);
void ChoicesToPort(const PortChoices& choices, window::PortFields& port);

class PortPage : public QWidget, public CTabPage {
 public:
  explicit PortPage(QWidget* parent = nullptr);

  // Stores the owner and shows the settings; the page starts unmodified.
  void LoadSettings(PageOwner* owner, const window::PortFields& port);
  // Reads the controls, then writes the settings into `port`.
  void SaveSettings(window::PortFields& port);
  void SetModified(int32_t modified) { modified_ = modified; }
  int32_t IsModified() const { return modified_; }

  void OnShowPage(bool shown) override;

  QComboBox* port_list() const { return port_list_; }
  QComboBox* baud_list() const { return baud_list_; }
  QRadioButton* parity_button(int i) const { return parity_[i]; }
  QRadioButton* data_bits_button(int i) const { return data_bits_[i]; }
  QRadioButton* stop_bits_button(int i) const { return stop_bits_[i]; }
  QCheckBox* handshake_box() const { return handshake_; }
  const PortChoices& choices() const { return choices_; }

 private:
  void TransferToControls();
  void TransferFromControls();

  PageOwner* owner_ = nullptr;
  int32_t modified_ = 0;
  PortChoices choices_;
  bool loading_ = false;

  QComboBox* port_list_;
  QComboBox* baud_list_;
  QRadioButton* parity_[3];
  QRadioButton* data_bits_[2];
  QRadioButton* stop_bits_[2];
  QButtonGroup* parity_group_;
  QButtonGroup* data_bits_group_;
  QButtonGroup* stop_bits_group_;
  QCheckBox* handshake_;
};

}  // namespace veldrane::ui
