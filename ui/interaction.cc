#include "ui/interaction.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include "hostlink/texts.h"
#include "ui/ui_text.h"

namespace veldrane::ui {

int CaptionWidth(const QString& caption) {
  // The window manager's title font is not known here: a bold face of the application's font,
  // with room for the icon and three title-bar buttons of about its height each.
  QFont font = QApplication::font();
  font.setBold(true);
  QFontMetrics fm(font);
  return fm.horizontalAdvance(caption) + 5 * fm.height();
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons) {
  QString caption = FromCp949(texts::kWindowCaption);
  auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, parent);
  // The box sizes itself to its text; a spacer across its grid keeps it as wide as its caption.
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    grid->addItem(new QSpacerItem(CaptionWidth(caption), 0, QSizePolicy::Minimum), grid->rowCount(),
                  0, 1, grid->columnCount());
  }
  return box;
}

bool BoxInteraction::AskYesNo(QWidget* parent, int32_t, const QString& text) {
  auto box =
      MakeMessageBox(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No);
  return box->exec() == QMessageBox::Yes;
}

void BoxInteraction::ShowMessage(QWidget* parent, int32_t, const QString& text) {
  MakeMessageBox(parent, QMessageBox::Warning, text, QMessageBox::Ok)->exec();
}

int BoxInteraction::RunDialog(QDialog& dialog) {
  return dialog.exec();
}

ErrorBoxScope::ErrorBoxScope(Interaction& ui) : ui_(ui) {
  CTarkoError::Box box;
  box.show = &ErrorBoxScope::Show;
  box.context = this;
  previous_ = CTarkoError::SetBox(box);
}

ErrorBoxScope::~ErrorBoxScope() {
  CTarkoError::SetBox(previous_);
}

QString ErrorBoxScope::BoxText(int32_t code, const char* text, const char* host_text) {
  if (host_text) {
    // The host's messages are filled with a path (and why it failed): the system's text.
    QString arg = text ? FromFileName(text) : QString();
    return arg.isEmpty() ? FromCp949(host_text) : FromCp949(host_text) + ":\n" + arg;
  }
  QString arg = FromCp949(text);
  QString own = FromCp949(texts::StringTableText(code));
  if (own.isEmpty()) own = QStringLiteral("Error %1").arg(code);
  return arg.isEmpty() ? own : own + "\n" + arg;
}

void ErrorBoxScope::Show(int32_t code, int32_t, const char* text, const char* host_text,
                         void* context) {
  auto* self = static_cast<ErrorBoxScope*>(context);
  self->ui_.ShowMessage(QApplication::activeModalWidget(), code, BoxText(code, text, host_text));
}

}  // namespace veldrane::ui
