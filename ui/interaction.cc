#include "ui/interaction.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

#include "hostlink/texts.h"
#include "ui/ui_text.h"

namespace veldrane::ui {

bool BoxInteraction::AskYesNo(QWidget* parent, int32_t, const QString& text) {
  return QMessageBox::question(parent, FromCp949(texts::kWindowCaption), text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void BoxInteraction::ShowMessage(QWidget* parent, int32_t, const QString& text) {
  QMessageBox::warning(parent, FromCp949(texts::kWindowCaption), text);
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
  QString arg = FromCp949(text);
  if (host_text) return arg.isEmpty() ? FromCp949(host_text) : FromCp949(host_text) + ": " + arg;
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
