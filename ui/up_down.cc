#include "ui/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace veldrane::ui {

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
  }
  up_->setObjectName(QStringLiteral("up"));
  down_->setObjectName(QStringLiteral("down"));
  connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDown::SetRange(int low, int high) {
  low_ = low;
  high_ = high;
  position_ = std::clamp(position_, low_, high_);
}

void UpDown::Attach(QLineEdit* buddy) {
  buddy_ = buddy;
  QRect field = buddy->geometry();
  setGeometry(field.right() + 1 - width(), field.top(), width(), field.height());
  buddy->resize(field.width() - width(), field.height());
  buddy->installEventFilter(this);
}

void UpDown::Step(int delta) {
  if (buddy_) {
    bool ok = false;
    int typed = buddy_->text().trimmed().toInt(&ok);
    if (ok) position_ = typed;
  }
  position_ = std::clamp(position_ + delta, low_, high_);
  if (buddy_) buddy_->setText(QString::number(position_));
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == buddy_ && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void UpDown::resizeEvent(QResizeEvent*) {
  int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

}  // namespace veldrane::ui
