#include "ui/port_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QRadioButton>

#include "hostlink/texts.h"
#include "platform/serial/serial_inventory.h"
#include "ui/dialog_units.h"
#include "ui/drop_down.h"
#include "ui/page_owner.h"
#include "ui/ui_text.h"

namespace veldrane::ui {
namespace {

constexpr int kPortRows = platform::kHighestComPort;
constexpr const char* kBaudRows[] = {"  300", "  600", " 1200", " 2400",
                                     " 4800", " 9600", "19200", "38400"};

QRadioButton* Radio(QWidget* parent, const DialogUnits& du, QButtonGroup* group, int id,
                    const char* text, int x, int y, int w, int h) {
  auto* button = new QRadioButton(QString::fromLatin1(text), parent);
  PlaceWhole(button, du, x, y, w, h);
  group->addButton(button, id);
  return button;
}

void Panel(QWidget* parent, const DialogUnits& du, int x, int y, int w, int h) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Place(panel, du, x, y, w, h);
}

QLabel* Label(QWidget* parent, const DialogUnits& du, const QString& text, int x, int y, int w,
              int h) {
  auto* label = new QLabel(text, parent);
  PlaceWhole(label, du, x, y, w, h);
  return label;
}

// Tab enters a group of radio buttons at its checked button (the first when none is checked);
// the arrow keys move within the group. The others take the focus only by a click.
void TabToChecked(QButtonGroup* group) {
  const QList<QAbstractButton*> buttons = group->buttons();
  QAbstractButton* entry = group->checkedButton();
  if (!entry && !buttons.isEmpty()) entry = buttons.first();
  for (QAbstractButton* b : buttons)
    b->setFocusPolicy(b == entry ? Qt::StrongFocus : Qt::ClickFocus);
}

// Checks the button `id` of an exclusive group, or none for an id without a button.
void SelectInGroup(QButtonGroup* group, int id) {
  group->setExclusive(false);
  for (QAbstractButton* b : group->buttons()) b->setChecked(group->id(b) == id);
  group->setExclusive(true);
  TabToChecked(group);
}

}  // namespace

PortChoices ChoicesFromPort(const window::PortFields& port) {
  PortChoices c;
  c.port_row = port.port_index;
  c.baud_row = port.baud_index;
  c.parity = port.parity_index;
  c.data_bits = port.data_bits;
  c.stop_bits = port.stop_bits;
  c.handshake = static_cast<int32_t>((port.option_flags >> 1) & 1);
  return c;
}

void ChoicesToPort(const PortChoices& c, window::PortFields& port) {
  port.port_index = c.port_row;
  port.baud_index = c.baud_row;
  port.parity_index = c.parity;
  port.data_bits = c.data_bits;
  port.stop_bits = c.stop_bits;
  port.option_flags = (port.option_flags & ~2u) | ((static_cast<uint32_t>(c.handshake) & 1u) << 1);
}

PortPage::PortPage(QWidget* parent) : QWidget(parent) {
  setWindowTitle(FromCp949(texts::kPortPageCaption));
  setFont(DialogFont());
  DialogUnits du(font());
  resize(du.X(170), du.Y(170));

  // The template in its order: the panels first, so that they lie behind the buttons.
  Panel(this, du, 16, 49, 140, 22);
  Panel(this, du, 16, 91, 60, 36);
  Panel(this, du, 84, 91, 72, 36);
  Label(this, du, FromCp949(texts::kPortPageCaption), 16, 17, 28, 8);
  QStringList ports;
  for (int i = 0; i < kPortRows; ++i) ports << QStringLiteral("COM%1").arg(i + 1);
  port_list_ = MakeDropDown(this, du, "port", ports, 46, 14, 36, 78);
  Label(this, du, FromCp949(texts::kBaudLabel), 90, 17, 28, 8);
  QStringList bauds;
  for (const char* row : kBaudRows) bauds << QString::fromLatin1(row);
  baud_list_ = MakeDropDown(this, du, "baud", bauds, 120, 14, 36, 80);
  Label(this, du, QStringLiteral("Parity"), 16, 39, 24, 8);
  parity_group_ = new QButtonGroup(this);
  parity_[0] = Radio(this, du, parity_group_, 0, "None", 28, 53, 32, 10);
  parity_[1] = Radio(this, du, parity_group_, 1, "Even", 72, 53, 32, 10);
  parity_[2] = Radio(this, du, parity_group_, 2, "Odd", 116, 53, 29, 10);
  Label(this, du, QStringLiteral("Data Bits"), 16, 81, 32, 8);
  data_bits_group_ = new QButtonGroup(this);
  data_bits_[0] = Radio(this, du, data_bits_group_, 0, "7 Bits", 28, 99, 34, 10);
  data_bits_[1] = Radio(this, du, data_bits_group_, 1, "8 Bits", 28, 113, 34, 10);
  Label(this, du, QStringLiteral("Stop Bit(s)"), 84, 81, 36, 8);
  stop_bits_group_ = new QButtonGroup(this);
  stop_bits_[0] = Radio(this, du, stop_bits_group_, 0, "1 Stop Bit", 96, 99, 47, 10);
  stop_bits_[1] = Radio(this, du, stop_bits_group_, 1, "2 Stop Bits", 96, 113, 51, 10);
  handshake_ = new QCheckBox(FromCp949(texts::kRtsCtsCheck), this);
  handshake_->setObjectName(QStringLiteral("handshake"));
  PlaceWhole(handshake_, du, 16, 135, 64, 10);

  QWidget* order[] = {port_list_,    baud_list_,    parity_[0],    parity_[1],    parity_[2],
                      data_bits_[0], data_bits_[1], stop_bits_[0], stop_bits_[1], handshake_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  // Any user action counts as a change, a click on the button already selected included.
  auto touched = [this] {
    if (!loading_) modified_ = 1;
  };
  for (QComboBox* list : {port_list_, baud_list_}) {
    connect(list, &QComboBox::currentIndexChanged, this, touched);
    connect(list, &QComboBox::activated, this, touched);
  }
  for (QButtonGroup* group : {parity_group_, data_bits_group_, stop_bits_group_}) {
    connect(group, &QButtonGroup::buttonClicked, this, touched);
    connect(group, &QButtonGroup::buttonToggled, this, [group] { TabToChecked(group); });
    TabToChecked(group);
  }
  connect(handshake_, &QCheckBox::clicked, this, touched);
}

void PortPage::LoadSettings(PageOwner* owner, const window::PortFields& port) {
  owner_ = owner;
  choices_ = ChoicesFromPort(port);
  TransferToControls();
  modified_ = 0;  // filling the controls is no change
}

void PortPage::TransferToControls() {
  loading_ = true;
  auto row = [](QComboBox* list, int32_t r) {
    list->setCurrentIndex(r >= 0 && r < list->count() ? r : -1);
  };
  row(baud_list_, choices_.baud_row);
  row(port_list_, choices_.port_row);
  SelectInGroup(stop_bits_group_, choices_.stop_bits);
  SelectInGroup(data_bits_group_, choices_.data_bits);
  SelectInGroup(parity_group_, choices_.parity);
  handshake_->setChecked(choices_.handshake == 1);
  loading_ = false;
}

void PortPage::TransferFromControls() {
  choices_.baud_row = baud_list_->currentIndex();
  choices_.port_row = port_list_->currentIndex();
  choices_.stop_bits = stop_bits_group_->checkedId();
  choices_.data_bits = data_bits_group_->checkedId();
  choices_.parity = parity_group_->checkedId();
  choices_.handshake = handshake_->isChecked() ? 1 : 0;
}

void PortPage::SaveSettings(window::PortFields& port) {
  TransferFromControls();
  ChoicesToPort(choices_, port);
}

void PortPage::OnShowPage(bool shown) {
  if (shown && owner_) owner_->EnableStationButtons(false, false, false);
}

}  // namespace veldrane::ui
