#include "gui/canvas.h"

#include <QFontMetrics>

namespace vs32::gui {

Canvas::Canvas(QImage& image) : image_(image), painter_(&image) {
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setPen(pen_);
  painter_.setBrush(brush_);
}

void Canvas::SetPenColor(const QColor& color) {
  pen_ = color;
  painter_.setPen(QPen(color, 0));
}

void Canvas::SetBrushColor(const QColor& color) {
  brush_ = color;
  painter_.setBrush(color);
}

void Canvas::LineTo(int x, int y) {
  painter_.drawLine(pos_, QPoint(x, y));
  pos_ = QPoint(x, y);
}

void Canvas::Clear(const QColor& color) {
  painter_.fillRect(image_.rect(), color);
}

void Canvas::Rectangle(int left, int top, int right, int bottom) {
  // Like the classic canvas call: the right and bottom edges are not drawn.
  if (right - left < 1 || bottom - top < 1) return;
  painter_.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
}

void Canvas::TextOut(int x, int y, const QString& text, const QColor& textColor) {
  const QSize size = TextExtent(text);
  const QRect box(x, y, size.width(), size.height());
  painter_.fillRect(box, brush_);
  painter_.setPen(textColor);
  painter_.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
  painter_.setPen(QPen(pen_, 0));
}

QSize Canvas::TextExtent(const QString& text) const {
  const QFontMetrics metrics(painter_.font());
  return QSize(metrics.horizontalAdvance(text), metrics.height());
}

}  // namespace vs32::gui
