#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace veldrane::ui {

QFont DialogFont() {
  QFont font;
  QStringList families;
  const QStringList installed = QFontDatabase::families();
  for (const char* face : {"Noto Sans CJK KR", "NanumGothic", "Noto Sans KR", "UnDotum"}) {
    if (installed.contains(QString::fromLatin1(face))) families << QString::fromLatin1(face);
  }
  if (!families.isEmpty()) font.setFamilies(families);
  font.setPointSize(8);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics fm(font);
  // The average width of the 52 letters, rounded, as dialog managers take it.
  int letters =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_x_ = std::max(1, (letters / 26 + 1) / 2);
  base_y_ = std::max(1, fm.height());
}

int DialogUnits::X(int units) const {
  return static_cast<int>(std::lround(units * base_x_ / 4.0));
}

int DialogUnits::Y(int units) const {
  return static_cast<int>(std::lround(units * base_y_ / 8.0));
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

void Place(QWidget* widget, const DialogUnits& du, int x, int y, int width, int height) {
  widget->setGeometry(du.Rect(x, y, width, height));
}

void PlaceWhole(QWidget* widget, const DialogUnits& du, int x, int y, int width, int height) {
  QRect rect = du.Rect(x, y, width, height);
  rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
  widget->setGeometry(rect);
}

}  // namespace veldrane::ui
