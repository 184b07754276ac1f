// The window's questions, message boxes and modal dialogs go through this one interface, so
// that tests answer them without a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <memory>

#include "tarko/header.h"

class QDialog;
class QWidget;

namespace veldrane::ui {

// Message ids of the toolkit's own refusals, beside the string-table ids of the error box.
inline constexpr int32_t kEnterIntegerMessage = -1;
inline constexpr int32_t kEnterRangeMessage = -2;
// Text with a character that code page 949 lacks, refused in a field or a paste.
inline constexpr int32_t kNotCp949Message = -3;

class Interaction {
 public:
  virtual ~Interaction() = default;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(QWidget* parent, int32_t id, const QString& text) = 0;
  // A message with an OK button: an error box of the host (its code) or a refusal of the
  // toolkit (kEnterIntegerMessage, kEnterRangeMessage) or of the window (kNotCp949Message).
  virtual void ShowMessage(QWidget* parent, int32_t id, const QString& text) = 0;
  // Runs a dialog modally; its result (QDialog::Accepted or Rejected).
  virtual int RunDialog(QDialog& dialog) = 0;
};

// The width a box needs for its caption to show uncut in a title bar.
int CaptionWidth(const QString& caption);
// A box with the window's caption, at least as wide as that caption needs.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons);

// Real message boxes and modal loops.
class BoxInteraction : public Interaction {
 public:
  bool AskYesNo(QWidget* parent, int32_t id, const QString& text) override;
  void ShowMessage(QWidget* parent, int32_t id, const QString& text) override;
  int RunDialog(QDialog& dialog) override;
};

// While it lives, the host's error box (CTarkoError::ErrMsg) shows its messages through
// `ui`: the host's texts for its own codes, the driver's string table for 2700 to 2705.
class ErrorBoxScope {
 public:
  explicit ErrorBoxScope(Interaction& ui);
  ~ErrorBoxScope();
  ErrorBoxScope(const ErrorBoxScope&) = delete;
  ErrorBoxScope& operator=(const ErrorBoxScope&) = delete;

  // The text the box shows for a code and its argument.
  static QString BoxText(int32_t code, const char* text, const char* host_text);

 private:
  static void Show(int32_t code, int32_t mode, const char* text, const char* host_text,
                   void* context);
  Interaction& ui_;
  CTarkoError::Box previous_;
};

}  // namespace veldrane::ui
