#include "gui_qt/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "app/source_menu.h"

namespace quillon {
namespace {

constexpr int kIconSize = 24;

struct TColours {
  QColor Main;
  QColor Dark;
  QColor Light;
  QColor Accent;
};

const TColours kGreyed{QColor(160, 160, 160), QColor(120, 120, 120), QColor(230, 230, 230),
                       QColor(180, 180, 180)};

using TPainter = std::function<void(QPainter&, const TColours&)>;

QPixmap Paint(const TPainter& paint, const TColours& colours) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  paint(painter, colours);
  return pixmap;
}

QIcon MakeIcon(const TPainter& paint, const TColours& colours) {
  QIcon icon;
  icon.addPixmap(Paint(paint, colours), QIcon::Normal);
  icon.addPixmap(Paint(paint, kGreyed), QIcon::Disabled);
  return icon;
}

void PaintHardDisk(QPainter& p, const TColours& c) {
  p.setPen(QPen(c.Dark, 1.2));
  p.setBrush(c.Main);
  p.drawRoundedRect(QRectF(2.5, 6.5, 19, 12), 2, 2);
  p.setBrush(c.Light);
  p.drawRoundedRect(QRectF(4.5, 8.5, 15, 4), 1, 1);
  p.setPen(Qt::NoPen);
  p.setBrush(c.Accent);
  p.drawEllipse(QRectF(16, 14, 3, 3));
}

void PaintVolume(QPainter& p, const TColours& c) {
  PaintHardDisk(p, c);
  // One slice of the disk marked as the partition.
  p.setPen(QPen(c.Dark, 1.2));
  p.setBrush(c.Accent);
  p.drawRect(QRectF(4.5, 8.5, 6, 4));
}

void PaintImageFile(QPainter& p, const TColours& c) {
  QPainterPath page;
  page.moveTo(5.5, 2.5);
  page.lineTo(14.5, 2.5);
  page.lineTo(19.5, 7.5);
  page.lineTo(19.5, 21.5);
  page.lineTo(5.5, 21.5);
  page.closeSubpath();
  p.setPen(QPen(c.Dark, 1.2));
  p.setBrush(c.Light);
  p.drawPath(page);
  p.setBrush(c.Main);
  p.drawEllipse(QRectF(7.5, 9.5, 10, 10));
  p.setBrush(c.Light);
  p.drawEllipse(QRectF(11, 13, 3, 3));
}

void PaintSave(QPainter& p, const TColours& c) {
  p.setPen(QPen(c.Dark, 1.2));
  p.setBrush(c.Main);
  p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 1.5, 1.5);
  p.setBrush(c.Light);
  p.drawRect(QRectF(6.5, 3.5, 11, 7));
  p.setBrush(c.Dark);
  p.drawRect(QRectF(14, 5, 2, 4));
  p.setBrush(c.Light);
  p.drawRect(QRectF(6.5, 13.5, 11, 7));
}

void PaintStart(QPainter& p, const TColours& c) {
  p.setPen(QPen(c.Dark, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(14.5, 14.5), QPointF(20.5, 20.5));
  p.setPen(QPen(c.Main, 2.2));
  p.setBrush(c.Light);
  p.drawEllipse(QRectF(3.5, 3.5, 12, 12));
  p.setPen(Qt::NoPen);
  p.setBrush(c.Accent);
  QPainterPath play;
  play.moveTo(8, 6.5);
  play.lineTo(13, 9.5);
  play.lineTo(8, 12.5);
  play.closeSubpath();
  p.drawPath(play);
}

void PaintStop(QPainter& p, const TColours& c) {
  QPainterPath octagon;
  const double a = 3.5, b = 8.5, d = 15.5, e = 20.5;
  octagon.moveTo(b, a);
  octagon.lineTo(d, a);
  octagon.lineTo(e, b);
  octagon.lineTo(e, d);
  octagon.lineTo(d, e);
  octagon.lineTo(b, e);
  octagon.lineTo(a, d);
  octagon.lineTo(a, b);
  octagon.closeSubpath();
  p.setPen(QPen(c.Dark, 1.2));
  p.setBrush(c.Main);
  p.drawPath(octagon);
  p.setPen(Qt::NoPen);
  p.setBrush(c.Light);
  p.drawRect(QRectF(7, 10.5, 10, 3));
}

const TColours kSteel{QColor(96, 112, 136), QColor(48, 56, 72), QColor(220, 226, 236),
                      QColor(40, 200, 80)};
const TColours kBlue{QColor(40, 90, 180), QColor(20, 45, 100), QColor(235, 240, 250),
                     QColor(40, 90, 180)};
const TColours kGreen{QColor(30, 120, 60), QColor(40, 60, 80), QColor(230, 245, 235),
                      QColor(30, 150, 60)};
const TColours kRed{QColor(200, 40, 40), QColor(120, 20, 20), QColor(255, 255, 255),
                    QColor(200, 40, 40)};
const TColours kDisc{QColor(200, 170, 60), QColor(80, 80, 90), QColor(250, 250, 250),
                     QColor(200, 170, 60)};
const TColours kPartition{QColor(96, 112, 136), QColor(48, 56, 72), QColor(220, 226, 236),
                          QColor(240, 170, 40)};

}  // namespace

QIcon ToolIcon(TToolIcon kind) {
  switch (kind) {
    case TToolIcon::ChooseDisk:
      return MakeIcon(PaintHardDisk, kSteel);
    case TToolIcon::SaveFile:
      return MakeIcon(PaintSave, kBlue);
    case TToolIcon::StartScan:
      return MakeIcon(PaintStart, kGreen);
    case TToolIcon::StopScan:
      return MakeIcon(PaintStop, kRed);
  }
  return {};
}

QIcon MenuEntryIcon(int imageIndex) {
  switch (imageIndex) {
    case source_menu::kDriveImageIndex:
      return MakeIcon(PaintHardDisk, kSteel);
    case source_menu::kVolumeImageIndex:
      return MakeIcon(PaintVolume, kPartition);
    case source_menu::kOpenImageImageIndex:
      return MakeIcon(PaintImageFile, kDisc);
    default:
      return {};
  }
}

}  // namespace quillon
