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

// Some styles open a list as a popup over the box that grows to hold every row, and then ignore
// the number of rows to show; this one keeps the open list below the box, scrolling.
class ScrollingListStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, data);
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

int ClosedWidthForRows(const QComboBox* list) {
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.editable = false;
  // The style's own size for that much text, then the room it leaves for text at that size
  // checked: some styles take more for the arrow than they give back.
  int text = WidestRow(list);
  QSize size = list->style()->sizeFromContents(QStyle::CT_ComboBox, &option,
                                               QSize(text, list->fontMetrics().height()), list);
  int width = size.width();
  for (int guard = 0; guard < 64; ++guard) {
    option.rect = QRect(0, 0, width, list->height());
    QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                QStyle::SC_ComboBoxEditField, list);
    if (field.width() >= text) break;
    width += text - field.width();
  }
  return width;
}

QComboBox* MakeDropDown(QWidget* parent, const DialogUnits& du, const char* name,
                        const QStringList& rows, int x, int y, int width, int open_height,
                        int visible_rows) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  auto* style = new ScrollingListStyle();
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
