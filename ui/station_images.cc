#include "ui/station_images.h"

#include <QBitmap>
#include <QPainter>
#include <QPixmap>

namespace veldrane::ui {
namespace {

const QColor kMask(255, 0, 255);

void DrawConfiguration(QPainter& p) {
  p.setPen(QPen(Qt::darkGray, 1));
  p.drawLine(2, 2, 8, 8);
  p.drawLine(14, 2, 8, 8);
  p.fillRect(4, 8, 9, 6, Qt::black);
  p.fillRect(6, 10, 5, 2, Qt::green);
}

void DrawStation(QPainter& p) {
  p.fillRect(1, 3, 14, 10, Qt::black);
  for (int row = 0; row < 2; ++row) {
    for (int lamp = 0; lamp < 5; ++lamp) {
      p.fillRect(3 + lamp * 2 + (lamp > 1 ? 1 : 0), 5 + row * 4, 1, 2,
                 row == 0 ? QColor(255, 40, 40) : QColor(255, 200, 0));
    }
  }
}

void DrawDigits(QPainter& p) {
  p.setPen(Qt::black);
  QFont font;
  font.setPixelSize(9);
  p.setFont(font);
  p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("{01}"));
}

}  // namespace

QImage StationImageStrip() {
  QImage strip(58, kImageCell, QImage::Format_RGB32);
  strip.fill(kMask);
  QPainter p(&strip);
  DrawConfiguration(p);
  p.translate(kImageCell, 0);
  DrawStation(p);
  p.translate(kImageCell, 0);
  DrawDigits(p);
  return strip;
}

QIcon StationImage(int index) {
  QImage cell = StationImageStrip().copy(index * kImageCell, 0, kImageCell, kImageCell);
  QPixmap pixmap = QPixmap::fromImage(cell);
  pixmap.setMask(QBitmap::fromImage(cell.createMaskFromColor(kMask.rgb(), Qt::MaskInColor)));
  return QIcon(pixmap);
}

}  // namespace veldrane::ui
