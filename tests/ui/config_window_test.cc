// The configuration window driven through its widgets: the button column and its enabling, the
// tree, delete, copy and paste through the clipboard, add and edit through the station dialog,
// the port page, saving and the question before leaving.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <cerrno>
#include <deque>

#include "hostlink/texts.h"
#include "platform/files/file_io.h"
#include "tests/ui/ui_test_support.h"
#include "ui/config_window.h"
#include "ui/interaction.h"
#include "ui/port_page.h"
#include "ui/station_dialog.h"
#include "ui/station_page.h"

namespace veldrane::test {
namespace {

using ui::ConfigWindow;

const std::vector<StationSpec> kStations = {{"PUMP1", 1, 3, 2, "LEVEL", "tank A"},
                                            {"PUMP2", 2, 4, 0, "", ""},
                                            {"FAN", 0, 7, 1, "SPEED", ""}};

class WindowTest : public ::testing::Test {
 protected:
  explicit WindowTest(const std::vector<StationSpec>& stations = kStations,
                      const window::PortFields& port = {})
      : config_(stations, port) {
    window_ = std::make_unique<ConfigWindow>(config_.view(), ui_);
    window_->show();
    QGuiApplication::clipboard()->setText(QStringLiteral("(before)"));
  }
  ~WindowTest() override { EXPECT_TRUE(ui_.answers.empty()) << "a question was not asked"; }

  ui::StationPage& page() { return window_->station_page(); }
  QTreeWidgetItem* Item(int i) { return page().root()->child(i); }
  void Select(QTreeWidgetItem* item) { page().tree()->setCurrentItem(item); }
  QStringList Labels() {
    QStringList labels;
    for (int i = 0; i < page().root()->childCount(); ++i) labels << Item(i)->text(0);
    return labels;
  }
  QString Clipboard() { return QGuiApplication::clipboard()->text(); }
  void Exit() { Click(window_->exit_button()); }

  OpenConfig config_;
  ScriptedUi ui_;
  std::unique_ptr<ConfigWindow> window_;
};

TEST_F(WindowTest, OpensOnTheStationPageWithTheTreeOfTheDocument) {
  EXPECT_EQ(window_->tabs()->currentIndex(), 0);
  EXPECT_EQ(window_->sheet().GetActiveIndex(), 0);
  EXPECT_EQ(page().root()->text(0), "line1");
  EXPECT_TRUE(page().root()->isExpanded());
  EXPECT_EQ(Labels(), (QStringList{QString::fromUtf8("PUMP1 (3\xEA\xB5\xAD) : LEVEL"),
                                   QString::fromUtf8("PUMP2 (4\xEA\xB5\xAD) : "),
                                   QString::fromUtf8("FAN (7\xEA\xB5\xAD) : SPEED")}));
  EXPECT_FALSE(window_->edit_button()->isEnabled());
  EXPECT_FALSE(window_->delete_button()->isEnabled());
  EXPECT_TRUE(window_->add_button()->isEnabled());
}

TEST_F(WindowTest, StationButtonsFollowTheSelectionAndThePageShown) {
  struct Step {
    const char* what;
    std::function<void()> act;
    bool edit, remove, add;
  };
  const Step steps[] = {
      {"a station selected", [&] { Select(Item(1)); }, true, true, true},
      {"the root selected", [&] { Select(page().root()); }, false, false, true},
      {"a station again", [&] { Select(Item(0)); }, true, true, true},
      {"the port page shown", [&] { window_->tabs()->setCurrentIndex(1); }, false, false, false},
      {"back to the stations", [&] { window_->tabs()->setCurrentIndex(0); }, true, true, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(window_->edit_button()->isEnabled(), s.edit);
    EXPECT_EQ(window_->delete_button()->isEnabled(), s.remove);
    EXPECT_EQ(window_->add_button()->isEnabled(), s.add);
  }
  EXPECT_EQ(window_->sheet().GetActiveIndex(), 0);
}

TEST_F(WindowTest, EditAndDeleteDoNothingOnTheRoot) {
  Select(page().root());
  DoubleClick(page().tree()->viewport(), page().tree()->visualItemRect(page().root()).center());
  window_->OnEdit();
  window_->OnDelete();
  EXPECT_EQ(ui_.dialogs, 0);
  EXPECT_TRUE(ui_.questions.empty());
  EXPECT_EQ(config_.doc().Stations().size(), 3u);
}

TEST_F(WindowTest, DeleteAsksAndOnlyYesRemoves) {
  Select(Item(1));
  ui_.answers = {false};
  Click(window_->delete_button());
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0].id, 2704);
  EXPECT_EQ(ui_.questions[0].text, Q(texts::kAskDeleteStation));
  EXPECT_EQ(config_.doc().Stations().size(), 3u);
  EXPECT_EQ(window_->Dirty(), 0);

  ui_.answers = {true};
  Click(window_->delete_button());
  ASSERT_EQ(config_.doc().Stations().size(), 2u);
  EXPECT_EQ(config_.station(1).name, "FAN");
  EXPECT_EQ(Labels().size(), 2);
  EXPECT_EQ(window_->Dirty(), 1);
  // Whatever the tree selects now, the buttons agree with it.
  int image = -1;
  bool station_selected = page().GetSelectedStation(&image) != nullptr;
  EXPECT_EQ(window_->edit_button()->isEnabled(), station_selected);
}

TEST_F(WindowTest, CopyWritesTheLinesOfTheSelection) {
  const QString pump1 = "PUMP1\t1\t3\t2\tLEVEL\ttank A\r\n";
  const QString all = pump1 + "PUMP2\t2\t4\t0\t\t\r\nFAN\t0\t7\t1\tSPEED\t\r\n";
  Click(window_->copy_button());
  EXPECT_EQ(Clipboard(), "") << "nothing selected: an empty text";
  Select(page().root());
  Click(window_->copy_button());
  EXPECT_EQ(Clipboard(), all);
  Select(Item(0));
  Click(window_->copy_button());
  EXPECT_EQ(Clipboard(), pump1);
}

TEST_F(WindowTest, CopyAndPasteDoNothingOnThePortPage) {
  Select(page().root());
  window_->tabs()->setCurrentIndex(1);
  Click(window_->copy_button());
  EXPECT_EQ(Clipboard(), "(before)");
  QGuiApplication::clipboard()->setText("NEW\t0\t9\t0\t\t\r\n");
  Click(window_->paste_button());
  EXPECT_EQ(config_.doc().Stations().size(), 3u);
  EXPECT_EQ(window_->Dirty(), 0);
}

TEST_F(WindowTest, PasteWithoutAcceptableLinesChangesNothing) {
  Select(Item(2));
  QGuiApplication::clipboard()->setText("no tab here\r\nX\t0\t256\t0\r\n\r\n");
  Click(window_->paste_button());
  EXPECT_EQ(window_->Dirty(), 0);
  EXPECT_EQ(config_.doc().Stations().size(), 3u);
  EXPECT_EQ(page().tree()->currentItem(), Item(2)) << "the tree was not rebuilt";
}

TEST_F(WindowTest, PasteUpdatesByNameInPlaceAndAppendsTheRest) {
  // Spreadsheet text: tabs and CR LF; Korean names and signs in Unicode, stored in code page 949.
  QGuiApplication::clipboard()->setText(
      QString::fromUtf8("pump2\t3\t5\t1\tlevel2\tnew text\r\n"
                        "\xEC\x88\x98\xEC\x9C\x84\t4\t11\t0\ttag\t\xC2\xB0"
                        "C\r\n"));  // 수위, °C
  Click(window_->paste_button());
  EXPECT_EQ(window_->Dirty(), 1);
  ASSERT_EQ(config_.doc().Stations().size(), 4u);
  const CStationInfo& updated = config_.station(1);
  EXPECT_EQ(updated.name, "PUMP2");
  EXPECT_EQ(updated.kind, 3);
  EXPECT_EQ(updated.number, 5);
  EXPECT_EQ(updated.tag_name, "LEVEL2");
  EXPECT_EQ(updated.description, "new text");
  const CStationInfo& added = config_.station(3);
  EXPECT_EQ(added.name, "\xBC\xF6\xC0\xA7");  // 수위 in code page 949
  EXPECT_EQ(added.description,
            "\xA1\xC6"
            "C");  // °C in code page 949
  EXPECT_EQ(Labels().size(), 4);
  EXPECT_EQ(Labels()[1], QString::fromUtf8("PUMP2 (5\xEA\xB5\xAD) : LEVEL2"));
  EXPECT_TRUE(page().root()->isExpanded());
}

// The station dialog, as a user fills it.
std::function<int(QDialog&)> Fill(const char* name, const char* number, int kind,
                                  const char* tag = "") {
  return [=](QDialog& d) {
    auto& dialog = static_cast<ui::StationDialog&>(d);
    Type(dialog.name_field(), QString::fromLatin1(name));
    Type(dialog.number_field(), QString::fromLatin1(number));
    dialog.kind_list()->setCurrentIndex(kind);
    Type(dialog.tag_field(), QString::fromLatin1(tag));
    Click(dialog.ok_button());
    return dialog.result();
  };
}

TEST_F(WindowTest, AddedStationComesLastSelectedAndLastInTheDocument) {
  Select(Item(0));
  ui_.on_dialog = Fill("new", "12", 5, " t9 ");
  Click(window_->add_button());
  ASSERT_EQ(config_.doc().Stations().size(), 4u);
  const CStationInfo& added = config_.station(3);
  EXPECT_EQ(added.name, "NEW");
  EXPECT_EQ(added.number, 12);
  EXPECT_EQ(added.kind, 5);
  EXPECT_EQ(added.tag_name, "T9") << "the tag is trimmed on the way back";
  EXPECT_EQ(page().tree()->currentItem(), Item(3));
  EXPECT_EQ(Item(3)->text(0), QString::fromUtf8("NEW (12\xEA\xB5\xAD) : T9"));
  EXPECT_EQ(window_->Dirty(), 1);
  EXPECT_TRUE(window_->edit_button()->isEnabled());
}

TEST_F(WindowTest, DoubleClickEditsAStationInPlace) {
  config_.station(0).frames_sent.store(17);
  Select(Item(0));
  ui_.on_dialog = Fill("PUMP1", "30", 1, "LEVEL");
  DoubleClick(page().tree()->viewport(), page().tree()->visualItemRect(Item(0)).center());
  EXPECT_EQ(ui_.dialogs, 1);
  EXPECT_EQ(config_.station(0).number, 30);
  EXPECT_EQ(config_.station(0).frames_sent.load(), 17) << "run-time fields stay";
  EXPECT_EQ(Item(0)->text(0), QString::fromUtf8("PUMP1 (30\xEA\xB5\xAD) : LEVEL"));
  EXPECT_EQ(window_->Dirty(), 1);
}

TEST_F(WindowTest, CancelAfterARefusedOkLeavesTheStationAsItWas) {
  Select(Item(0));
  ui_.on_dialog = [](QDialog& d) {
    auto& dialog = static_cast<ui::StationDialog&>(d);
    Type(dialog.name_field(), "CHANGED");
    Type(dialog.number_field(), "4");  // PUMP2's
    Click(dialog.ok_button());
    Click(dialog.cancel_button());
    return dialog.result();
  };
  Click(window_->edit_button());
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].id, 2702);
  EXPECT_EQ(config_.station(0).name, "PUMP1");
  EXPECT_EQ(config_.station(0).number, 3);
  EXPECT_EQ(window_->Dirty(), 0);
}

// Leaving the window: whether it asks, what it writes, what it returns.
TEST(WindowExit, AsksOnlyAfterChangesAndReturnsWhetherTheSaveStepsRan) {
  struct Case {
    const char* what;
    std::function<void(ConfigWindow&)> before;
    std::deque<bool> answers;
    bool asks;
    bool file_written;
    int32_t result;
  };
  auto click_parity = [](ConfigWindow& w) {
    w.tabs()->setCurrentIndex(1);
    QTest::mouseClick(w.port_page().parity_button(0), Qt::LeftButton);  // already selected
  };
  auto save = [](ConfigWindow& w) { Click(w.save_button()); };
  auto paste = [](ConfigWindow& w) {
    QGuiApplication::clipboard()->setText("NEW\t0\t9\t0\t\t\r\n");
    Click(w.paste_button());
  };
  const Case cases[] = {
      {"no change", [](ConfigWindow&) {}, {}, false, false, 0},
      {"a click on the selected parity, No", click_parity, {false}, true, false, 0},
      {"save, then leave", save, {}, false, true, 1},
      {"save, change, No",
       [&](ConfigWindow& w) {
         save(w);
         paste(w);
       },
       {false},
       true,
       true,
       1},
      {"a paste, Yes", paste, {true}, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenConfig config(kStations);
    const ino_t before = config.FileId();
    ScriptedUi ui;
    ui.answers = c.answers;
    ConfigWindow window(config.view(), ui);
    window.show();
    c.before(window);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ui.questions.size(), c.asks ? 1u : 0u);
    if (c.asks) {
      EXPECT_EQ(ui.questions[0].text, Q(texts::kAskSaveChanges));
    }
    EXPECT_EQ(window.Result(), c.result);
    EXPECT_EQ(config.FileId() != before, c.file_written);
    if (std::string(c.what) == "save, change, No") {
      CVeldraneDoc disk;
      ASSERT_TRUE(disk.Load(config.path().c_str()));
      EXPECT_EQ(disk.Stations().size(), 3u) << "the change after the save is lost";
    }
  }
}

// A save that fails shows 2005, keeps the file as it was and the window usable, and leaving
// still asks.
TEST(WindowSave, AFailedSaveKeepsTheOldFileAndTheChangesUnsaved) {
  OpenConfig config(kStations);
  const std::string before = config.FileBytes();
  ScriptedUi ui;
  ConfigWindow window(config.view(), ui);
  window.show();
  QGuiApplication::clipboard()->setText("NEW\t0\t9\t0\t\t\r\n");
  Click(window.paste_button());

  static platform::FileApi failing = platform::SystemFileApi();
  failing.replace = [](const char*, const char*) { return -1; };
  platform::SetFileApi(&failing);
  Click(window.save_button());
  platform::SetFileApi(nullptr);

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].id, 2005);
  EXPECT_NE(ui.messages[0].text.indexOf(QString::fromStdString(config.path())), -1);
  EXPECT_EQ(config.FileBytes(), before);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.Result(), 1);
  EXPECT_EQ(window.Dirty(), 1);

  ui.answers = {true};
  Click(window.exit_button());
  EXPECT_EQ(ui.questions.size(), 1u);
  CVeldraneDoc disk;
  ASSERT_TRUE(disk.Load(config.path().c_str()));
  EXPECT_EQ(disk.Stations().size(), 4u);
}

// The port page: rows and buttons for the settings, and back.
TEST(PortPage, MapsSettingsToRowsAndBackWithMinusOneForNothing) {
  struct Case {
    const char* what;
    window::PortFields port;
    std::function<void(ui::PortPage&)> act;
    QString port_text, baud_text;
    window::PortFields saved;
  };
  auto port = [](int32_t p, int32_t b, int32_t par, int32_t d, int32_t s, uint32_t o) {
    return window::PortFields{p, b, par, d, s, o};
  };
  auto none = [](ui::PortPage&) {};
  auto tick = [](ui::PortPage& p) { QTest::mouseClick(p.handshake_box(), Qt::LeftButton); };
  const Case cases[] = {
      {"defaults", window::PortFields(), none, "COM1", " 9600", port(0, 5, 0, 1, 0, 0)},
      {"outside the lists", port(40, 9, 3, 2, 5, 0), none, "", "", port(-1, -1, -1, -1, -1, 0)},
      {"the last rows", port(35, 7, 2, 0, 1, 0), none, "COM36", "38400", port(35, 7, 2, 0, 1, 0)},
      {"ticking keeps the other bits", port(0, 5, 0, 1, 0, 0xFFFFFFFDu), tick, "COM1", " 9600",
       port(0, 5, 0, 1, 0, 0xFFFFFFFFu)},
      {"unticking clears one bit", port(0, 5, 0, 1, 0, 0xFFFFFFFFu), tick, "COM1", " 9600",
       port(0, 5, 0, 1, 0, 0xFFFFFFFDu)},
      {"choices made", port(40, 9, 3, 2, 5, 0),
       [](ui::PortPage& p) {
         p.port_list()->setCurrentIndex(2);
         p.baud_list()->setCurrentIndex(0);
         QTest::mouseClick(p.parity_button(1), Qt::LeftButton);
         QTest::mouseClick(p.data_bits_button(0), Qt::LeftButton);
         QTest::mouseClick(p.stop_bits_button(1), Qt::LeftButton);
       },
       "COM3", "  300", port(2, 0, 1, 0, 1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenConfig config({}, c.port);
    ScriptedUi ui;
    ConfigWindow window(config.view(), ui);
    window.show();
    window.tabs()->setCurrentIndex(1);
    ui::PortPage& page = window.port_page();
    EXPECT_EQ(page.IsModified(), 0);
    c.act(page);
    EXPECT_EQ(page.port_list()->currentText(), c.port_text);
    EXPECT_EQ(page.baud_list()->currentText(), c.baud_text);
    Click(window.save_button());
    EXPECT_EQ(page.IsModified(), 0);
    CVeldraneDoc disk;
    ASSERT_TRUE(disk.Load(config.path().c_str()));
    const CSerialPort& s = disk.Port();
    EXPECT_EQ(s.port_index, c.saved.port_index);
    EXPECT_EQ(s.baud_index, c.saved.baud_index);
    EXPECT_EQ(s.parity_index, c.saved.parity_index);
    EXPECT_EQ(s.data_bits, c.saved.data_bits);
    EXPECT_EQ(s.stop_bits, c.saved.stop_bits);
    EXPECT_EQ(s.option_flags, c.saved.option_flags);
  }
}

// Enter presses the focused push button; from a control that is not a button it goes to the
// default button (edit), which edits the selected station.
TEST_F(WindowTest, EnterPressesTheFocusedButton) {
  struct Case {
    const char* what;
    QWidget* focused;
    std::deque<bool> answers;
    int dialogs;    // station dialogs opened
    int32_t asked;  // question asked, 0 for none
    bool written;   // the file was saved
    bool copied;    // the station went to the clipboard
  };
  const Case cases[] = {
      {"the tree", page().tree(), {}, 1, 0, false, false},
      {"delete", window_->delete_button(), {false}, 0, 2704, false, false},
      {"copy", window_->copy_button(), {}, 0, 0, false, true},
      {"save", window_->save_button(), {}, 0, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Select(Item(0));
    QGuiApplication::clipboard()->setText(QStringLiteral("(before)"));
    ui_.dialogs = 0;
    ui_.questions.clear();
    ui_.answers = c.answers;
    const ino_t before = config_.FileId();
    QTest::keyClick(c.focused, Qt::Key_Return);
    EXPECT_EQ(ui_.dialogs, c.dialogs);
    EXPECT_EQ(ui_.questions.empty() ? 0 : ui_.questions[0].id, c.asked);
    EXPECT_EQ(config_.FileId() != before, c.written);
    EXPECT_EQ(Clipboard().startsWith(QStringLiteral("PUMP1\t")), c.copied)
        << Clipboard().toStdString();
    EXPECT_EQ(config_.doc().Stations().size(), 3u);
  }
}

// A paste holding a character that code page 949 lacks changes nothing (no '?' that could make
// two stations one) and names the line and the character's place in it.
TEST_F(WindowTest, PasteWithACharacterOutsideCodePage949ChangesNothing) {
  struct Case {
    const char* what;
    const char* utf8;
    int line, column;
    const char* character;
  };
  const Case cases[] = {
      {"names that differ in an emoji only",
       "EMO\xF0\x9F\x98\x80\t0\t1\t0\t\t\r\nEMO\xF0\x9F\x99\x82\t0\t2\t0\t\t\r\n", 1, 4,
       "\xF0\x9F\x98\x80"},
      {"a description on the second line",
       "OK\t0\t1\t0\t\tfine\r\nNAME\t0\t2\t0\t\tna\xC3\xAFve\r\n", 2, 15, "\xC3\xAF"},
  };
  Select(page().root());
  const QStringList labels = Labels();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.messages.clear();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(c.utf8));
    Click(window_->paste_button());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].id, ui::kNotCp949Message);
    EXPECT_EQ(
        ui_.messages[0].text,
        Q(texts::kNotCp949Paste).arg(c.line).arg(c.column).arg(QString::fromUtf8(c.character)));
    EXPECT_EQ(config_.doc().Stations().size(), 3u);
    EXPECT_EQ(window_->Dirty(), 0);
    EXPECT_EQ(Labels(), labels);
  }
}

// File names are the system's (UTF-8): the tree's root and the save error's path show them
// as they are.
TEST(WindowFileNames, TitleAndErrorPathsShowUtf8Names) {
  struct Case {
    const char* file;
    const char* title;
  };
  const Case cases[] = {{"\xEB\x9D\xBC\xEC\x9D\xB8"
                         "1.cfg",
                         "\xEB\x9D\xBC\xEC\x9D\xB8"
                         "1"},  // 라인1
                        {"caf\xC3\xA9 line.cfg", "caf\xC3\xA9 line"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    OpenConfig config(kStations, {}, {}, c.file);
    ScriptedUi ui;
    ConfigWindow window(config.view(), ui);
    window.show();
    EXPECT_EQ(window.station_page().root()->text(0), QString::fromUtf8(c.title));
    static platform::FileApi failing = platform::SystemFileApi();
    failing.create_new = [](const char*, uint32_t) {
      errno = EACCES;
      return platform::kBadFile;
    };
    platform::SetFileApi(&failing);
    Click(window.save_button());
    platform::SetFileApi(nullptr);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].id, 2005);
    // The path as it is, the cause and what to do.
    EXPECT_NE(ui.messages[0].text.indexOf(QString::fromUtf8(config.path().c_str())), -1)
        << ui.messages[0].text.toStdString();
    EXPECT_NE(ui.messages[0].text.indexOf(QStringLiteral("Permission denied")), -1);
    EXPECT_NE(ui.messages[0].text.indexOf(QStringLiteral("write permission on the folder")), -1);
  }
}

// Tab goes from the tabs through the controls of the page shown to the buttons, passing over
// disabled buttons.
TEST_F(WindowTest, TabGoesThroughThePageShownToTheButtons) {
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  struct Case {
    const char* what;
    int page;
    std::vector<QWidget*> after_the_tabs;
  };
  ui::PortPage& port = window_->port_page();
  const Case cases[] = {
      {"the station page", 0, {page().tree(), window_->add_button(), window_->copy_button()}},
      {"the port page", 1, {port.port_list(), port.baud_list(), port.parity_button(0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window_->tabs()->setCurrentIndex(c.page);
    window_->tabs()->tabBar()->setFocus(Qt::TabFocusReason);
    for (QWidget* expected : c.after_the_tabs) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(QApplication::focusWidget(), expected)
          << QApplication::focusWidget()->metaObject()->className();
    }
  }
}

// Tab enters each radio group of the port page at its checked button (the first when none is),
// and a click that checks another button moves the entry with it.
TEST(PortPageTab, TabLandsOnTheCheckedButtonOfEachGroup) {
  struct Case {
    const char* what;
    window::PortFields port;
    int parity, data_bits, stop_bits;  // the button Tab lands on in each group
  };
  const Case cases[] = {
      {"the defaults: none, 8 bits, 1 stop bit", {}, 0, 1, 0},
      {"even, 7 bits, 2 stop bits", {0, 5, 1, 0, 1, 0}, 1, 0, 1},
      {"nothing selected", {0, 5, -1, -1, -1, 0}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenConfig config({}, c.port);
    ScriptedUi ui;
    ConfigWindow window(config.view(), ui);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.tabs()->setCurrentIndex(1);
    ui::PortPage& page = window.port_page();
    page.baud_list()->setFocus();
    const QWidget* expected[] = {page.parity_button(c.parity), page.data_bits_button(c.data_bits),
                                 page.stop_bits_button(c.stop_bits), page.handshake_box()};
    for (const QWidget* w : expected) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(QApplication::focusWidget(), w)
          << QApplication::focusWidget()->metaObject()->className();
    }
  }
  OpenConfig config({});
  ScriptedUi ui;
  ConfigWindow window(config.view(), ui);
  window.show();
  window.tabs()->setCurrentIndex(1);
  QTest::mouseClick(window.port_page().parity_button(2), Qt::LeftButton);
  EXPECT_EQ(window.port_page().parity_button(2)->focusPolicy(), Qt::StrongFocus);
  EXPECT_EQ(window.port_page().parity_button(0)->focusPolicy(), Qt::ClickFocus);
}

}  // namespace
}  // namespace veldrane::test
