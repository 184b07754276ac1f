// No text of the window is cut, at the fonts this system has: every label, button and list row
// fits its control; the lists open as lists of their own height with a scroll bar; the tree
// scrolls sideways for long labels; message boxes are as wide as their caption.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTreeWidget>
#include <vector>

#include "hostlink/texts.h"
#include "tests/ui/ui_test_support.h"
#include "ui/config_window.h"
#include "ui/interaction.h"
#include "ui/port_page.h"
#include "ui/station_dialog.h"
#include "ui/station_page.h"

namespace veldrane::test {
namespace {

using ui::ConfigWindow;

// The room the style leaves for the text of a closed list: its field, less the margins the
// text is drawn within.
int RowRoom(const QComboBox* list) {
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.rect = list->rect();
  return list->style()
             ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
             .width() -
         2;
}

// No control was widened over another: labels, buttons, lists and fields of one parent do not
// overlap.
void ExpectNoOverlap(QWidget* form) {
  std::vector<QWidget*> controls;
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
        qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w)) {
      controls.push_back(w);
    }
  }
  for (size_t i = 0; i < controls.size(); ++i) {
    for (size_t j = i + 1; j < controls.size(); ++j) {
      QWidget* a = controls[i];
      QWidget* b = controls[j];
      if (a->parentWidget() != b->parentWidget()) continue;
      EXPECT_FALSE(a->geometry().intersects(b->geometry()))
          << a->metaObject()->className() << " '" << a->objectName().toStdString() << "' "
          << a->property("text").toString().toStdString() << " and " << b->metaObject()->className()
          << " '" << b->objectName().toStdString() << "' "
          << b->property("text").toString().toStdString();
    }
  }
}

// Every label, button and list of `form` shows its text whole.
void ExpectNothingCut(QWidget* form) {
  for (QLabel* label : form->findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
  }
  for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
    if (button->text().isEmpty()) continue;
    if (auto* push = qobject_cast<QPushButton*>(button)) {
      // A push button's size hint has a least width of its own: its text is measured against
      // the room the style gives it inside the frame.
      QStyleOptionButton option;
      option.initFrom(push);
      option.text = push->text();
      QRect room = push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push);
      EXPECT_LE(push->fontMetrics().horizontalAdvance(push->text()), room.width())
          << push->text().toStdString();
    } else {
      EXPECT_LE(button->sizeHint().width(), button->width()) << button->text().toStdString();
    }
  }
  for (QComboBox* list : form->findChildren<QComboBox*>()) {
    SCOPED_TRACE(list->objectName().toStdString());
    list->showPopup();
    QAbstractItemView* view = list->view();
    for (int row = 0; row < list->count(); ++row) {
      QString text = list->itemText(row);
      int width = list->fontMetrics().horizontalAdvance(text);
      EXPECT_LE(width, RowRoom(list)) << "closed: " << text.toStdString();
      EXPECT_LE(view->sizeHintForIndex(view->model()->index(row, 0)).width(),
                view->viewport()->width())
          << "open: " << text.toStdString();
    }
    list->hidePopup();
  }
  ExpectNoOverlap(form);
}

TEST(TextFit, NoLabelButtonOrListRowIsCut) {
  OpenConfig config({{"PUMP1", 6, 3, 2, "LEVEL", "tank A"}});
  ScriptedUi ui;
  ConfigWindow window(config.view(), ui);
  window.show();
  {
    SCOPED_TRACE("the window and its station page");
    ExpectNothingCut(&window);
  }
  {
    SCOPED_TRACE("the port page");
    window.tabs()->setCurrentIndex(1);
    ExpectNothingCut(&window.port_page());
  }
  {
    SCOPED_TRACE("the station dialog");
    ui::StationDialog dialog(&window, config.view(), &config.station(0), ui);
    dialog.show();
    ExpectNothingCut(&dialog);
  }
}

// The port list opens as about eight rows with a scroll bar, not as a popup of its 36 rows.
TEST(TextFit, ListsOpenAtTheirOwnHeightAndScroll) {
  OpenConfig config({});
  ScriptedUi ui;
  ConfigWindow window(config.view(), ui);
  window.show();
  window.tabs()->setCurrentIndex(1);
  struct Case {
    QComboBox* list;
    int rows;
    bool scrolls;
  };
  const Case cases[] = {{window.port_page().port_list(), 8, true},
                        {window.port_page().baud_list(), 8, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list->objectName().toStdString());
    c.list->showPopup();
    QAbstractItemView* view = c.list->view();
    int row = view->sizeHintForRow(0);
    ASSERT_GT(row, 0);
    int shown = view->viewport()->height() / row;
    EXPECT_GE(shown, c.rows - 1);
    EXPECT_LE(shown, c.rows + 1);
    EXPECT_EQ(view->verticalScrollBar()->isVisible(), c.scrolls);
    c.list->hidePopup();
  }
}

// A label longer than the tree is shown whole, the tree scrolling sideways to its end.
TEST(TextFit, TreeScrollsSidewaysForLongLabels) {
  const std::string name = "STATION_WITH_A_VERY_LONG_NAME_THAT_GOES_ON_AND_ON_";
  OpenConfig config({{name, 0, 201, 0, "TAG_AT_THE_END", ""}});
  ScriptedUi ui;
  ConfigWindow window(config.view(), ui);
  window.show();
  QTreeWidget* tree = window.station_page().tree();
  QTreeWidgetItem* item = window.station_page().root()->child(0);
  QApplication::processEvents();
  EXPECT_GT(tree->horizontalScrollBar()->maximum(), 0);
  EXPECT_TRUE(tree->horizontalScrollBar()->isVisible());
  int text = tree->fontMetrics().horizontalAdvance(item->text(0));
  EXPECT_GE(tree->visualItemRect(item).width(), text);
}

TEST(TextFit, MessageBoxesAreAsWideAsTheirCaption) {
  for (const char* text : {"", "2005", "a longer message that is wider than the caption itself"}) {
    SCOPED_TRACE(text);
    auto box = ui::MakeMessageBox(nullptr, QMessageBox::Warning, QString::fromLatin1(text),
                                  QMessageBox::Ok);
    box->show();
    EXPECT_GE(box->width(), ui::CaptionWidth(box->windowTitle()));
    EXPECT_EQ(box->windowTitle(), Q(texts::kWindowCaption));
    box->hide();
  }
}

}  // namespace
}  // namespace veldrane::test
