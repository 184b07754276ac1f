// Dialog templates give positions and sizes in dialog units: a quarter of the dialog font's
// average character width across, an eighth of its character height down. Converting through
// the font's metrics keeps every control where its template puts it at any screen scale.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace veldrane::ui {

// The dialogs' font: 8 points, in a face that has Hangul where one is installed.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Pixels for dialog units, rounded to the nearest.
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  // Average character width and character height in pixels.
  int base_x() const { return base_x_; }
  int base_y() const { return base_y_; }

 private:
  int base_x_;
  int base_y_;
};

// Puts `widget` at its template position.
void Place(QWidget* widget, const DialogUnits& du, int x, int y, int width, int height);
// Puts `widget` at its template position, wider where its text needs more than the template
// gives at this font (a radio button's mark and text, say): nothing is cut.
void PlaceWhole(QWidget* widget, const DialogUnits& du, int x, int y, int width, int height);

}  // namespace veldrane::ui
