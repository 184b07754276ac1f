#include "ui/drop_down.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <algorithm>

#include "ui/dialog_units.h"

namespace veldrane::ui {
namespace {

// The lists' own style. Some styles open a list as a popup over the box that grows to hold
// every row, and then ignore the number of rows to show; this one keeps the open list below the
// box, scrolling. The templates' lists are narrow for their rows: the closed box gives its text
// all the room between its frame and its arrow.
class ListStyle : public QProxyStyle {
 public:
  // The arrow's button, at most this wide (a template's dialog-unit widths were made for narrow
  // arrows).
  static constexpr int kArrowWidth = 14;

  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override {
    QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
    if (control != CC_ComboBox) return rect;
    QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
    if (arrow.width() > kArrowWidth) arrow.setLeft(arrow.right() - kArrowWidth + 1);
    if (part == SC_ComboBoxArrow) return arrow;
    if (part != SC_ComboBoxEditField) return rect;
    int frame = pixelMetric(PM_ComboBoxFrameWidth, option, widget);
    rect.setLeft(option->rect.left() + frame);
    rect.setRight(std::max(rect.left(), arrow.left() - 1));
    return rect;
  }
};

int WidestRow(const QComboBox* list) {
  int widest = 0;
  for (int i = 0; i < list->count(); ++i) {
    widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->itemText(i)));
  }
  return widest;
}

}  // namespace

int ClosedTextRoom(const QComboBox* list, int width) {
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.editable = false;
  option.rect = QRect(0, 0, width, list->height());
  QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                              QStyle::SC_ComboBoxEditField, list);
  return field.width() - 2 * kLabelMargin;
}

int ClosedWidthForRows(const QComboBox* list) {
  // The room for text grows with the width one for one, past the frame and the arrow.
  int text = WidestRow(list);
  int width = text;
  for (int guard = 0; guard < 8 && ClosedTextRoom(list, width) < text; ++guard) {
    width += text - ClosedTextRoom(list, width);
  }
  return width;
}

QComboBox* MakeDropDown(QWidget* parent, const DialogUnits& du, const char* name,
                        const QStringList& rows, int x, int y, int width, int open_height,
                        int visible_rows) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  auto* style = new ListStyle();
  style->setParent(list);
  list->setStyle(style);
  list->addItems(rows);
  int closed = list->sizeHint().height();
  list->setGeometry(du.X(x), du.Y(y), du.X(width), closed);
  list->resize(std::max(du.X(width), ClosedWidthForRows(list)), closed);
  if (visible_rows <= 0) {
    visible_rows = std::max(1, (du.Y(open_height) - closed) / list->fontMetrics().height());
  }
  list->setMaxVisibleItems(visible_rows);
  // The open list as wide as its widest row beside the scroll bar, whatever the box's width.
  QAbstractItemView* view = list->view();
  view->setTextElideMode(Qt::ElideNone);
  int scroll = list->count() > visible_rows ? view->verticalScrollBar()->sizeHint().width() : 0;
  view->setMinimumWidth(std::max(view->sizeHintForColumn(0), WidestRow(list)) + scroll +
                        2 * view->frameWidth());
  return list;
}

}  // namespace veldrane::ui
