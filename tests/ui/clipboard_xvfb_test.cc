// Copy and paste through the real system clipboard of an X display (run under xvfb-run), with
// xclip as the other program: what the window copies is what veldrane-cfg exports, and what
// xclip offers (Korean names, CR LF line ends) is pasted, saved and shown as veldrane-cfg
// imports it.
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <QClipboard>
#include <QElapsedTimer>
#include <QProcess>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

#include "tests/ui/ui_test_support.h"
#include "ui/clipboard_keeper.h"
#include "ui/config_window.h"
#include "ui/station_page.h"

namespace veldrane::test {
namespace {

constexpr int kBoundMs = 10000;

// Runs a program to its end while the window keeps answering the display (the clipboard's owner
// must serve xclip's request); its standard output.
QByteArray RunProgram(const QString& program, const QStringList& args,
                      const QByteArray& input = {}) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForStarted(kBoundMs)) {
    ADD_FAILURE() << "cannot start " << program.toStdString();
    return {};
  }
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  QElapsedTimer timer;
  timer.start();
  while (p.state() != QProcess::NotRunning && timer.elapsed() < kBoundMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    p.waitForFinished(20);
  }
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished(kBoundMs);
    ADD_FAILURE() << program.toStdString() << " did not finish";
  }
  EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().data();
  return p.readAllStandardOutput();
}

QByteArray Cfg(const QStringList& args, const QByteArray& input = {}) {
  return RunProgram(QStringLiteral(VELDRANE_CFG), args, input);
}

// `veldrane-cfg show` without its first line, which names the file.
QByteArray Shown(const std::string& path) {
  QByteArray shown = Cfg({"show", QString::fromStdString(path)});
  return shown.mid(shown.indexOf('\n') + 1);
}

class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run";
    dir_ = std::make_unique<TempDir>();
    path_ = dir_->File("line1.cfg");
    ASSERT_EQ(std::system(("cp '" VELDRANE_DEMO_CFG "' '" + path_ + "'").c_str()), 0);
    doc_.SetPath(path_.c_str());
    ASSERT_TRUE(doc_.Load(path_.c_str()));
    view_ = std::make_unique<WindowDocument>(doc_, WindowDocument::BrowseFn());
    window_ = std::make_unique<ui::ConfigWindow>(*view_, ui_);
    window_->show();
  }

  std::unique_ptr<TempDir> dir_;
  std::string path_;
  CVeldraneDoc doc_;
  std::unique_ptr<WindowDocument> view_;
  ScriptedUi ui_;
  std::unique_ptr<ui::ConfigWindow> window_;
};

TEST_F(ClipboardTest, CopyGivesOtherProgramsTheExportedLines) {
  window_->station_page().tree()->setCurrentItem(window_->station_page().root());
  Click(window_->copy_button());
  QByteArray pasted = RunProgram("xclip", {"-o", "-selection", "clipboard"});
  QByteArray exported = Cfg({"export", QString::fromStdString(path_), "--utf8"});
  EXPECT_FALSE(exported.isEmpty());
  EXPECT_EQ(pasted.toStdString(), exported.toStdString());
}

TEST_F(ClipboardTest, SpreadsheetTextFromXclipIsPastedAndSavedAsImported) {
  // Two updates by name (one in other case) and two new stations, Korean names among them.
  const QByteArray text =
      "\xEC\x88\x98\xEC\x9C\x84\t2\t3\t1\tlevel9\tnew level\r\n"  // 수위
      "pressure\t1\t20\t2\tpress2\t\r\n"
      "\xEB\xB0\xB8\xEB\xB8\x8C 1\t0\t30\t0\tvalve1\t\xEB\xB0\xB8\xEB\xB8\x8C\r\n"  // 밸브 1
      "bad\t0\t999\t0\tx\tdropped\r\n"
      "FLOW2\t3\t31\t2\tflow2\tlast line without its end";
  std::string reference = dir_->File("reference.cfg");
  ASSERT_EQ(std::system(("cp '" + path_ + "' '" + reference + "'").c_str()), 0);
  Cfg({"import", QString::fromStdString(reference), "--utf8"}, text);

  QProcess owner;  // xclip keeps offering the text until the test ends
  owner.start("xclip", {"-quiet", "-i", "-selection", "clipboard", "-t", "UTF8_STRING"});
  ASSERT_TRUE(owner.waitForStarted(kBoundMs));
  owner.write(text);
  owner.closeWriteChannel();
  QElapsedTimer timer;
  timer.start();
  while (QGuiApplication::clipboard()->text().toUtf8() != text && timer.elapsed() < kBoundMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ASSERT_EQ(QGuiApplication::clipboard()->text().toUtf8().toStdString(), text.toStdString());

  Click(window_->paste_button());
  EXPECT_EQ(window_->Dirty(), 1);
  Click(window_->save_button());
  EXPECT_TRUE(ui_.messages.empty());
  owner.kill();
  owner.waitForFinished(kBoundMs);
  EXPECT_EQ(Shown(path_).toStdString(), Shown(reference).toStdString());
}

// A window of this process that holds the selection CLIPBOARD_MANAGER while it lives, as a
// desktop's clipboard manager does.
class FakeClipboardManager {
 public:
  FakeClipboardManager() {
    c_ = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const char name[] = "CLIPBOARD_MANAGER";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
    xcb_set_selection_owner(c_, window_, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    xcb_flush(c_);
  }
  ~FakeClipboardManager() {
    xcb_destroy_window(c_, window_);  // the selection goes with it
    xcb_flush(c_);
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t window_;
};

// As the window's application ends: nothing to keep when it does not own the clipboard; left to
// a clipboard manager where one runs; else the keeper serves the text, which outlives this
// program's ownership, until another program takes the clipboard.
TEST_F(ClipboardTest, ClipboardIsHandedToAManagerOrTheKeeper) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  std::string reason;
  clipboard->clear();
  EXPECT_EQ(ui::KeepClipboard(VELDRANE_CLIPKEEPER, &reason), ui::ClipboardHandOver::kNotOwned);

  window_->station_page().tree()->setCurrentItem(window_->station_page().root());
  Click(window_->copy_button());
  {
    FakeClipboardManager manager;
    EXPECT_EQ(ui::KeepClipboard(VELDRANE_CLIPKEEPER, &reason), ui::ClipboardHandOver::kManager);
  }
  const QByteArray copied = clipboard->text().toUtf8();
  ASSERT_EQ(ui::KeepClipboard(VELDRANE_CLIPKEEPER, &reason), ui::ClipboardHandOver::kKeeper)
      << reason;
  QElapsedTimer timer;
  timer.start();
  while (clipboard->ownsClipboard() && timer.elapsed() < kBoundMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  EXPECT_FALSE(clipboard->ownsClipboard()) << "the keeper took the clipboard";
  EXPECT_EQ(RunProgram("xclip", {"-o", "-selection", "clipboard"}).toStdString(),
            copied.toStdString());
  clipboard->setText(QStringLiteral("taken back"));  // the keeper ends
}

}  // namespace
}  // namespace veldrane::test
