#include "gui_qt/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace quillon {
namespace {

constexpr int kIconSize = 24;
constexpr double kUnit = static_cast<double>(kIconSize) / window::kIconGrid;

QColor ColourOf(const window::TRgb& rgb) { return QColor(rgb.R, rgb.G, rgb.B); }

QPointF PointOf(const window::TPoint& point) { return QPointF(point.X * kUnit, point.Y * kUnit); }

QPixmap Paint(const window::TIcon& icon, const window::TPalette& palette) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  for (const window::TShape& shape : icon.Shapes) {
    if (shape.Stroke) {
      p.setPen(QPen(ColourOf(palette.Of(*shape.Stroke)), shape.StrokeWidth * kUnit,
                    Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    } else {
      p.setPen(Qt::NoPen);
    }
    p.setBrush(shape.Fill ? QBrush(ColourOf(palette.Of(*shape.Fill))) : QBrush(Qt::NoBrush));
    const auto box = [&] { return QRectF(PointOf(shape.Points[0]), PointOf(shape.Points[1])); };
    switch (shape.Kind) {
      case window::TShapeKind::RoundRect:
        p.drawRoundedRect(box(), shape.Radius * kUnit, shape.Radius * kUnit);
        break;
      case window::TShapeKind::Rect:
        p.drawRect(box());
        break;
      case window::TShapeKind::Ellipse:
        p.drawEllipse(box());
        break;
      case window::TShapeKind::Line:
        p.drawLine(PointOf(shape.Points[0]), PointOf(shape.Points[1]));
        break;
      case window::TShapeKind::Polygon: {
        QPainterPath path;
        path.moveTo(PointOf(shape.Points[0]));
        for (std::size_t i = 1; i < shape.Points.size(); ++i) path.lineTo(PointOf(shape.Points[i]));
        path.closeSubpath();
        p.drawPath(path);
        break;
      }
    }
  }
  return pixmap;
}

}  // namespace

QIcon ToolIcon(window::TIconKind kind) {
  const window::TIcon& icon = window::Icon(kind);
  QIcon result;
  result.addPixmap(Paint(icon, icon.Colours), QIcon::Normal);
  result.addPixmap(Paint(icon, window::GreyedPalette()), QIcon::Disabled);
  return result;
}

QIcon MenuEntryIcon(int imageIndex) {
  const std::optional<window::TIconKind> kind = window::MenuEntryIcon(imageIndex);
  return kind ? ToolIcon(*kind) : QIcon();
}

}  // namespace quillon
