// What the widget tests share: an application on the offscreen platform, answers for the
// window's questions and dialogs without a modal loop, and configurations on disk.
#pragma once

#include <sys/stat.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/doc.h"
#include "driver/window_document.h"
#include "tests/support/temp_dir.h"
#include "ui/interaction.h"
#include "ui/ui_text.h"

namespace veldrane::test {

// Questions are answered from a queue (an unexpected question fails the test and is answered
// No); messages are recorded; a dialog is handed to `on_dialog`, which drives its widgets and
// returns the result as the modal loop would.
class ScriptedUi : public ui::Interaction {
 public:
  struct Shown {
    int32_t id;
    QString text;
  };

  bool AskYesNo(QWidget*, int32_t id, const QString& text) override {
    questions.push_back({id, text});
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question " << id;
      return false;
    }
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowMessage(QWidget*, int32_t id, const QString& text) override {
    messages.push_back({id, text});
  }
  int RunDialog(QDialog& dialog) override {
    ++dialogs;
    if (!on_dialog) return QDialog::Rejected;
    dialog.show();
    return on_dialog(dialog);
  }

  std::deque<bool> answers;
  std::vector<Shown> questions;
  std::vector<Shown> messages;
  std::function<int(QDialog&)> on_dialog;
  int dialogs = 0;
};

// A click as the user gives it, on a button that must be enabled to take it.
inline void Click(QPushButton* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

// Replaces the text of a field as typed, key by key (characters without a key of their own, such
// as Hangul, come as the text of a key event, the way an input method delivers them).
inline void Type(QLineEdit* field, const QString& text) {
  field->selectAll();
  QTest::keyClick(field, Qt::Key_Delete);
  for (QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClick(field, c.toLatin1());
    } else {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(field, &press);
    }
  }
}

struct StationSpec {
  std::string name;
  int32_t kind;
  int32_t number;
  uint32_t decimals;
  std::string tag;
  std::string description;
};

// Writes a configuration file with these stations and port settings.
inline void WriteConfig(const std::string& path, const std::vector<StationSpec>& stations,
                        const window::PortFields& port = {}) {
  CVeldraneDoc doc;
  for (const StationSpec& s : stations) {
    auto st = std::make_unique<CStationInfo>();
    st->name = s.name.c_str();
    st->kind = s.kind;
    st->number = s.number;
    st->decimals = s.decimals;
    st->tag_name = s.tag.c_str();
    st->description = s.description.c_str();
    doc.Stations().push_back(std::move(st));
  }
  WindowDocument(doc, {}).SetPort(port);
  doc.SaveFile(path.c_str());
}

// A double click as the user gives it on an item of a view: press, release, double click.
inline void DoubleClick(QWidget* viewport, const QPoint& at) {
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A configuration on disk opened as the configure procedure opens it.
class OpenConfig {
 public:
  explicit OpenConfig(const std::vector<StationSpec>& stations, const window::PortFields& port = {},
                      WindowDocument::BrowseFn browse = {},
                      const std::string& file_name = "line1.cfg")
      : path_(dir_.File(file_name)) {
    WriteConfig(path_, stations, port);
    doc_.SetPath(path_.c_str());
    if (!doc_.Load(path_.c_str())) ADD_FAILURE() << "cannot load " << path_;
    view_ = std::make_unique<WindowDocument>(doc_, std::move(browse));
  }
  CVeldraneDoc& doc() { return doc_; }
  WindowDocument& view() { return *view_; }
  const std::string& path() const { return path_; }
  std::string FileBytes() const { return ReadBytes(path_); }
  // The file's identity: a save puts a new file in the place of the old one.
  ino_t FileId() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 ? st.st_ino : 0;
  }
  // The station at `i` in list order.
  CStationInfo& station(size_t i) { return *doc_.Stations().at(i); }

 private:
  TempDir dir_;
  std::string path_;
  CVeldraneDoc doc_;
  std::unique_ptr<WindowDocument> view_;
};

inline QString Q(const char* cp949) {
  return ui::FromCp949(cp949);
}

}  // namespace veldrane::test
