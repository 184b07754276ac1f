// An up-down control attached to the edit field before it: it sits at the field's right edge,
// steps the number in the field within its range with its arrows or the arrow keys in the field,
// and writes its position into the field as a decimal number. The field still takes any text.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace veldrane::ui {

class UpDown : public QWidget {
 public:
  explicit UpDown(QWidget* parent);
  void SetRange(int low, int high);
  // Attaches to `buddy`: takes the right edge of its rectangle, which shrinks by this width.
  void Attach(QLineEdit* buddy);
  // One step up (+1) or down (-1) from the number in the field (or from the last position when
  // the field holds none), kept within the range.
  void Step(int delta);
  int position() const { return position_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* buddy_ = nullptr;
  QToolButton* up_;
  QToolButton* down_;
  int low_ = 0;
  int high_ = 100;
  int position_ = 0;
};

}  // namespace veldrane::ui
