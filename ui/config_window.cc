#include "ui/config_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <exception>

#include "hostlink/texts.h"
#include "ui/dialog_units.h"
#include "ui/port_page.h"
#include "ui/station_dialog.h"
#include "ui/station_images.h"
#include "ui/station_page.h"
#include "ui/ui_text.h"

namespace veldrane::ui {

// The tab control of the window as the view of the host's tab sheet: the sheet decides which
// page is shown and notifies the pages; the tabs follow it and pass the user's clicks to it.
class ConfigWindow::SheetView : public CTabSheet::View {
 public:
  SheetView(CTabSheet& sheet, QTabWidget* tabs) : sheet_(sheet), tabs_(tabs) {
    QObject::connect(tabs_, &QTabWidget::currentChanged, tabs_, [this](int index) {
      if (!syncing_) sheet_.SetActivePage(index);
    });
  }
  void OnPageAdded(int, CTabPage* page) override {
    auto* widget = dynamic_cast<QWidget*>(page);
    syncing_ = true;
    tabs_->addTab(widget, widget->windowTitle());
    syncing_ = false;
  }
  void OnActivePage(int index) override {
    syncing_ = true;
    tabs_->setCurrentIndex(index);
    syncing_ = false;
  }

 private:
  CTabSheet& sheet_;
  QTabWidget* tabs_;
  bool syncing_ = false;
};

namespace {

QPushButton* Button(QWidget* parent, const DialogUnits& du, const char* name, const char* text,
                    int x, int y) {
  auto* button = new QPushButton(FromCp949(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  // Enter presses the focused button; the default button takes it from other controls.
  button->setAutoDefault(true);
  Place(button, du, x, y, 48, 14);
  return button;
}

}  // namespace

QString NotCp949PasteText(const QString& text, qsizetype at) {
  qsizetype line_start = text.lastIndexOf(QLatin1Char('\n'), at - 1) + 1;
  if (at == 0) line_start = 0;
  qsizetype line = text.left(line_start).count(QLatin1Char('\n')) + 1;
  // The place in the line in characters, a pair of UTF-16 units counting as one.
  qsizetype column = 1;
  for (qsizetype i = line_start; i < at; ++i) {
    if (!text[i].isLowSurrogate()) ++column;
  }
  return FromCp949(texts::kNotCp949Paste).arg(line).arg(column).arg(CharacterAt(text, at));
}

ConfigWindow::ConfigWindow(window::Document& doc, Interaction& ui, QWidget* parent)
    : QDialog(parent), doc_(doc), ui_(ui), error_box_(ui) {
  setObjectName(QStringLiteral("veldrane_config_window"));
  setWindowTitle(FromCp949(texts::kWindowCaption));
  setWindowIcon(StationImage(kStationImage));
  setFont(DialogFont());
  DialogUnits du(font());
  setFixedSize(du.X(243), du.Y(203));

  // The template in its order, which is the tab order.
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  Place(tabs_, du, 6, 6, 176, 192);
  edit_ = Button(this, du, "edit", texts::kEditButton, 188, 20);
  edit_->setDefault(true);
  delete_ = Button(this, du, "delete", texts::kDeleteButton, 188, 40);
  add_ = Button(this, du, "add", texts::kAddButton, 188, 60);
  copy_ = Button(this, du, "copy", texts::kCopyButton, 188, 86);
  paste_ = Button(this, du, "paste", texts::kPasteButton, 188, 105);
  save_ = Button(this, du, "save", texts::kSaveButton, 188, 132);
  exit_ = Button(this, du, "exit", texts::kExitButton, 188, 151);

  connect(edit_, &QPushButton::clicked, this, [this] { OnEdit(); });
  connect(delete_, &QPushButton::clicked, this, [this] { OnDelete(); });
  connect(add_, &QPushButton::clicked, this, [this] { OnAdd(); });
  connect(copy_, &QPushButton::clicked, this, [this] { OnCopy(); });
  connect(paste_, &QPushButton::clicked, this, [this] { OnPaste(); });
  connect(save_, &QPushButton::clicked, this, [this] { SaveAll(); });
  connect(exit_, &QPushButton::clicked, this, [this] { reject(); });

  // Opening: the port settings into their page, the owner of the station page, the pages into
  // the sheet, the station page shown first.
  station_page_ = new StationPage(doc_);
  port_page_ = new PortPage();
  port_page_->LoadSettings(this, doc_.GetPort());
  station_page_->SetOwner(this);
  sheet_view_ = std::make_unique<SheetView>(sheet_, tabs_);
  sheet_.Attach(sheet_view_.get());
  sheet_.AddPage(station_page_);
  sheet_.AddPage(port_page_);
  sheet_.SetActivePage(0);
  station_page_->UpdateButtons();

  // The template's tab order: the tabs, the controls of the page shown (the hidden page's are
  // passed over), then the buttons.
  const PortPage& port = *port_page_;
  QWidget* order[] = {tabs_,
                      station_page_->tree(),
                      port.port_list(),
                      port.baud_list(),
                      port.parity_button(0),
                      port.parity_button(1),
                      port.parity_button(2),
                      port.data_bits_button(0),
                      port.data_bits_button(1),
                      port.stop_bits_button(0),
                      port.stop_bits_button(1),
                      port.handshake_box(),
                      edit_,
                      delete_,
                      add_,
                      copy_,
                      paste_,
                      save_,
                      exit_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

ConfigWindow::~ConfigWindow() {
  // The pages go with the tabs after the sheet and its view: nothing may reach those then.
  QObject::disconnect(tabs_, nullptr, nullptr, nullptr);
  sheet_.Attach(nullptr);
}

void ConfigWindow::EnableStationButtons(bool edit, bool remove, bool add) {
  edit_->setEnabled(edit);
  delete_->setEnabled(remove);
  add_->setEnabled(add);
}

void ConfigWindow::OnAdd() {
  EditStation(nullptr);
}

void ConfigWindow::OnEdit() {
  int image = kRootImage;
  window::StationId station = station_page_->GetSelectedStation(&image);
  if (station && image == kStationImage) EditStation(station);
}

void ConfigWindow::EditStation(window::StationId station) {
  StationDialog dialog(this, doc_, station, ui_);
  if (ui_.RunDialog(dialog) != QDialog::Accepted) return;
  const StationValues& v = dialog.Values();
  window::StationFields fields{v.name, v.description, v.decimals, v.number, v.kind, v.tag};
  window::StationId written = doc_.Apply(station, fields);
  if (station) {
    station_page_->UpdateStation(station);
  } else {
    station_page_->InsertStation(written);
  }
  dirty_ = 1;
}

void ConfigWindow::OnDelete() {
  int image = kRootImage;
  window::StationId station = station_page_->GetSelectedStation(&image);
  if (!station || image != kStationImage) return;
  if (!ui_.AskYesNo(this, 2704, FromCp949(texts::kAskDeleteStation))) return;
  doc_.Remove(station);
  station_page_->DeleteSelectedItem();
  dirty_ = 1;
}

void ConfigWindow::OnCopy() {
  if (sheet_.GetActiveIndex() != 0) return;
  try {
    QString text = FromCp949(station_page_->CopyText());
    QGuiApplication::clipboard()->setText(text);
  } catch (const std::exception& e) {
    ui_.ShowMessage(this, 0, QString::fromLocal8Bit(e.what()));
  }
}

void ConfigWindow::OnPaste() {
  if (sheet_.GetActiveIndex() != 0) return;
  try {
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime || !mime->hasText()) return;
    // A character that code page 949 lacks would be stored as '?' and could merge two
    // stations: such a paste changes nothing and says where the character is.
    const QString text = mime->text();
    std::string lines;
    qsizetype bad = 0;
    if (!ToCp949Exact(text, &lines, &bad)) {
      ui_.ShowMessage(this, kNotCp949Message, NotCp949PasteText(text, bad));
      return;
    }
    if (station_page_->PasteText(lines)) dirty_ = 1;
  } catch (const std::exception& e) {
    ui_.ShowMessage(this, 0, QString::fromLocal8Bit(e.what()));
  }
}

void ConfigWindow::SaveAll() {
  window::PortFields port = doc_.GetPort();
  port_page_->SaveSettings(port);
  doc_.SetPort(port);
  int32_t port_modified = port_page_->IsModified();
  port_page_->SetModified(0);
  // The document shows its own error box when the file cannot be written. The changes are then
  // still unsaved: the flags stay, so that leaving asks again instead of dropping them.
  if (doc_.Save()) {
    dirty_ = 0;
  } else {
    port_page_->SetModified(port_modified);
  }
  result_ = 1;
}

void ConfigWindow::reject() {
  if (dirty_ || port_page_->IsModified()) {
    if (ui_.AskYesNo(this, 2705, FromCp949(texts::kAskSaveChanges))) SaveAll();
  }
  QDialog::reject();
}

}  // namespace veldrane::ui
