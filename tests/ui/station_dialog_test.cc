// The station dialog driven through its widgets: the order of its refusals with the focus and
// selection they leave, the kind row, upper-casing, the up-downs and the tag browse.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>

#include "hostlink/station_limits.h"
#include "hostlink/texts.h"
#include "tests/ui/ui_test_support.h"
#include "ui/interaction.h"
#include "ui/station_dialog.h"
#include "ui/up_down.h"

namespace veldrane::test {
namespace {

using ui::StationDialog;

const std::vector<StationSpec> kTwo = {{"PUMP1", 1, 3, 2, "FLOW1", "tank A"},
                                       {"PUMP2", 2, 4, 0, "", ""}};

class StationDialogTest : public ::testing::Test {
 protected:
  StationDialogTest() : box_(ui_) {}
  ScriptedUi ui_;
  ui::ErrorBoxScope box_;  // the error box, as the window installs it
};

struct Refusal {
  const char* what;
  const char* name;
  const char* number;
  const char* decimals;
  int32_t message;      // shown id; 0 for none (the dialog accepts)
  const char* focused;  // object name of the field given the focus
};

// Fields in transfer order: description, name, number, decimals, tag; then the checks of name
// and number. The first refusal wins.
const Refusal kRefusals[] = {
    {"decimals range before the name", "", "256", "8", ui::kEnterRangeMessage, "decimals"},
    {"negative decimals are out of range", "A", "1", "-1", ui::kEnterRangeMessage, "decimals"},
    {"letters in the number before the name", "", "abc", "8", ui::kEnterIntegerMessage, "number"},
    {"empty number", "NEW", "", "0", ui::kEnterIntegerMessage, "number"},
    {"number beyond 32 bits", "NEW", "99999999999", "0", ui::kEnterIntegerMessage, "number"},
    {"letters in the decimals", "NEW", "1", "x", ui::kEnterIntegerMessage, "decimals"},
    {"empty name before the number", "", "256", "0", 2700, "name"},
    {"blank name", "   ", "1", "0", 2700, "name"},
    {"name in other case before a bad number", "pump2", "256", "0", 2701, "name"},
    {"number 256", "NEW", "256", "0", 2703, "number"},
    {"number -1", "NEW", "-1", "0", 2703, "number"},
    {"number of another station", "NEW", "4", "0", 2702, "number"},
    {"acceptable", "  NEW  ", " 9 ", "7", 0, nullptr},
};

TEST_F(StationDialogTest, RefusalsComeInTransferOrderWithFocusAndSelection) {
  for (const Refusal& r : kRefusals) {
    SCOPED_TRACE(r.what);
    OpenConfig config(kTwo);
    ui_.messages.clear();
    StationDialog dialog(nullptr, config.view(), &config.station(0), ui_);
    dialog.show();
    Type(dialog.name_field(), QString::fromLatin1(r.name));
    Type(dialog.number_field(), QString::fromLatin1(r.number));
    Type(dialog.decimals_field(), QString::fromLatin1(r.decimals));
    Click(dialog.ok_button());
    if (r.message == 0) {
      EXPECT_TRUE(ui_.messages.empty());
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_EQ(dialog.Values().name, "NEW");
      EXPECT_EQ(dialog.Values().number, 9);
      EXPECT_EQ(dialog.Values().decimals, 7u);
      continue;
    }
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].id, r.message);
    if (const char* text = texts::StringTableText(r.message)) {
      EXPECT_EQ(ui_.messages[0].text, Q(text));
    }
    EXPECT_TRUE(dialog.isVisible());
    auto* field = qobject_cast<QLineEdit*>(dialog.focusWidget());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->objectName(), QString::fromLatin1(r.focused));
    EXPECT_EQ(field->selectedText(), field->text());
    // Nothing of the document changed.
    EXPECT_EQ(config.station(0).name, "PUMP1");
    EXPECT_EQ(config.station(0).number, 3);
  }
}

TEST_F(StationDialogTest, EditingWithoutChangesPassesBothChecks) {
  OpenConfig config(kTwo);
  StationDialog dialog(nullptr, config.view(), &config.station(0), ui_);
  dialog.show();
  EXPECT_EQ(dialog.name_field()->text(), "PUMP1");
  EXPECT_EQ(dialog.number_field()->text(), "3");
  EXPECT_EQ(dialog.decimals_field()->text(), "2");
  EXPECT_EQ(dialog.tag_field()->text(), "FLOW1");
  EXPECT_EQ(dialog.description_field()->text(), "tank A");
  EXPECT_EQ(dialog.kind_list()->currentIndex(), 1);
  Click(dialog.ok_button());
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(StationDialogTest, KindIsMinusOneWithoutARow) {
  OpenConfig config({{"ODD", 9, 5, 0, "", ""}});
  struct Case {
    window::StationId station;
    const char* name;
  };
  for (const Case& c : {Case{nullptr, "NEW"}, Case{&config.station(0), "ODD"}}) {
    SCOPED_TRACE(c.name);
    StationDialog dialog(nullptr, config.view(), c.station, ui_);
    dialog.show();
    EXPECT_EQ(dialog.kind_list()->count(), 7);
    EXPECT_EQ(dialog.kind_list()->currentIndex(), -1);
    Type(dialog.name_field(), QString::fromLatin1(c.name));
    Click(dialog.ok_button());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Values().kind, -1);
  }
}

TEST_F(StationDialogTest, KindRowsAreTheMeterModels) {
  OpenConfig config({});
  StationDialog dialog(nullptr, config.view(), nullptr, ui_);
  ASSERT_EQ(dialog.kind_list()->count(), kKindCount);
  for (int i = 0; i < kKindCount; ++i) {
    EXPECT_EQ(dialog.kind_list()->itemText(i), Q(texts::kKindNames[i]));
  }
}

TEST_F(StationDialogTest, NameAndTagTurnTypedAsciiLettersToCapitalsOnly) {
  OpenConfig config({});
  StationDialog dialog(nullptr, config.view(), nullptr, ui_);
  dialog.show();
  const QString typed = QString::fromUtf8("ab\xEA\xB0\x80z1");  // ab가z1
  const QString upper = QString::fromUtf8("AB\xEA\xB0\x80Z1");
  for (QLineEdit* field : {dialog.name_field(), dialog.tag_field()}) {
    Type(field, typed);
    EXPECT_EQ(field->text(), upper) << field->objectName().toStdString();
  }
  Type(dialog.description_field(), typed);
  EXPECT_EQ(dialog.description_field()->text(), typed);
}

TEST_F(StationDialogTest, UpDownsStepTheirFieldsWithinRangeAndFieldsTakeAnyText) {
  OpenConfig config({});
  StationDialog dialog(nullptr, config.view(), nullptr, ui_);
  dialog.show();
  // Attached at the field's right edge.
  QRect field = dialog.number_field()->geometry();
  EXPECT_EQ(dialog.number_updown()->geometry().left(), field.right() + 1);
  EXPECT_EQ(dialog.number_updown()->geometry().top(), field.top());

  struct Step {
    QLineEdit* field;
    const char* start;
    int key;
    const char* after;
  };
  const Step steps[] = {
      {dialog.number_field(), "254", Qt::Key_Up, "255"},
      {dialog.number_field(), "255", Qt::Key_Up, "255"},
      {dialog.number_field(), "0", Qt::Key_Down, "0"},
      {dialog.number_field(), "300", Qt::Key_Down, "255"},
      {dialog.decimals_field(), "3", Qt::Key_Down, "2"},
      {dialog.decimals_field(), "7", Qt::Key_Up, "7"},
  };
  for (const Step& s : steps) {
    Type(s.field, QString::fromLatin1(s.start));
    QTest::keyClick(s.field, static_cast<Qt::Key>(s.key));
    EXPECT_EQ(s.field->text(), QString::fromLatin1(s.after)) << s.start;
  }
  auto* up = dialog.decimals_updown()->findChild<QWidget*>("up");
  ASSERT_NE(up, nullptr);
  Type(dialog.decimals_field(), "5");
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(dialog.decimals_field()->text(), "6");
  Type(dialog.number_field(), "2x6");
  EXPECT_EQ(dialog.number_field()->text(), "2x6");
}

struct Browse {
  const char* what;
  bool browser;
  int32_t answer;
  const char* expect_field;
};

TEST_F(StationDialogTest, TagBrowseFillsTheFieldOnlyOnAPick) {
  const Browse cases[] = {
      {"no tag browser", false, 0, "TYPED"},
      {"browse answered 0", true, 0, "TYPED"},
      {"a pick", true, 1, "PICKED"},
  };
  for (const Browse& b : cases) {
    SCOPED_TRACE(b.what);
    std::string seen;
    WindowDocument::BrowseFn browse;
    if (b.browser) {
      browse = [&](CString* tag) {
        seen = tag->GetString();
        if (b.answer) *tag = "PICKED";
        return b.answer;
      };
    }
    OpenConfig config({{"PUMP1", 0, 1, 0, "FLOW1", ""}}, window::PortFields(), browse);
    StationDialog dialog(nullptr, config.view(), &config.station(0), ui_);
    dialog.show();
    Type(dialog.tag_field(), "typed");
    Click(dialog.browse_button());
    EXPECT_EQ(dialog.tag_field()->text(), QString::fromLatin1(b.expect_field));
    // The browser gets the dialog's value, not what was typed since.
    if (b.browser) {
      EXPECT_EQ(seen, "FLOW1");
    }
  }
}

// Enter presses the focused button: cancel cancels, the browse button browses; from a field it
// is OK.
TEST_F(StationDialogTest, EnterPressesTheFocusedButton) {
  struct Case {
    const char* what;
    QPushButton* (StationDialog::*button)() const;  // null: the name field
    int result;
    bool visible;
    int browses;
  };
  const Case cases[] = {
      {"cancel", &StationDialog::cancel_button, QDialog::Rejected, false, 0},
      {"browse", &StationDialog::browse_button, QDialog::Rejected, true, 1},
      {"OK", &StationDialog::ok_button, QDialog::Accepted, false, 0},
      {"the name field", nullptr, QDialog::Accepted, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int browses = 0;
    OpenConfig config(kTwo, {}, [&](CString*) {
      ++browses;
      return 0;
    });
    StationDialog dialog(nullptr, config.view(), &config.station(0), ui_);
    dialog.show();
    QWidget* focused = c.button ? static_cast<QWidget*>((dialog.*c.button)()) : dialog.name_field();
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), c.result);
    EXPECT_EQ(dialog.isVisible(), c.visible);
    EXPECT_EQ(browses, c.browses);
  }
}

// A character that code page 949 lacks refuses its field, in the transfer order (description,
// name, tag), with the focus there; nothing is turned into '?'.
TEST_F(StationDialogTest, RefusesCharactersOutsideCodePage949) {
  struct Case {
    const char* what;
    const char* name;
    const char* tag;
    const char* description;
    const char* character;
    const char* focused;
  };
  const Case cases[] = {
      {"an emoji in the name", "EMO\xF0\x9F\x98\x80", "", "", "\xF0\x9F\x98\x80", "name"},
      {"a letter with diaeresis", "na\xC3\xAFve", "", "", "\xC3\xAF", "name"},
      {"in the tag", "NEW", "T\xE2\x9C\x93", "", "\xE2\x9C\x93", "tag"},
      {"the description before the name", "X\xF0\x9F\x99\x82", "", "caf\xC3\xA9", "\xC3\xA9",
       "description"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenConfig config(kTwo);
    ui_.messages.clear();
    StationDialog dialog(nullptr, config.view(), nullptr, ui_);
    dialog.show();
    // As pasted into the fields (an emoji has no key of its own).
    auto paste = [](QLineEdit* field, const char* utf8) {
      field->selectAll();
      field->insert(QString::fromUtf8(utf8));
    };
    paste(dialog.name_field(), c.name);
    paste(dialog.tag_field(), c.tag);
    paste(dialog.description_field(), c.description);
    paste(dialog.number_field(), "9");
    Click(dialog.ok_button());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].id, ui::kNotCp949Message);
    EXPECT_EQ(ui_.messages[0].text, Q(texts::kNotCp949Field).arg(QString::fromUtf8(c.character)));
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_NE(dialog.focusWidget(), nullptr);
    EXPECT_EQ(dialog.focusWidget()->objectName(), QString::fromLatin1(c.focused));
  }
}

// Each text field opens showing the start of its text, however long.
TEST_F(StationDialogTest, FieldsOpenShowingTheirStart) {
  const std::string longer(120, 'W');
  OpenConfig config(
      {{"N" + longer, 1, 3, 2, "T" + longer, "Main header pressure (bar) " + longer}});
  StationDialog dialog(nullptr, config.view(), &config.station(0), ui_);
  dialog.show();
  for (QLineEdit* field : {dialog.name_field(), dialog.tag_field(), dialog.description_field()}) {
    SCOPED_TRACE(field->objectName().toStdString());
    EXPECT_EQ(field->cursorPosition(), 0);
    // The view is at the start: the cursor is drawn at the field's left edge.
    QRect cursor = field->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    EXPECT_LT(cursor.left(), field->width() / 4);
  }
}

}  // namespace
}  // namespace veldrane::test
