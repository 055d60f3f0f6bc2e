// A small pen-position canvas over QPainter, so that the display code reads like
// its description: move to a point, draw a line to the next one, fill, copy.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>

namespace vs32::gui {

class Canvas {
 public:
  // Draws on `image` until the canvas goes out of scope. The pen starts at (0, 0).
  explicit Canvas(QImage& image);

  int width() const { return image_.width(); }
  int height() const { return image_.height(); }

  void SetPenColor(const QColor& color);
  void SetBrushColor(const QColor& color);
  const QColor& penColor() const { return pen_; }
  const QColor& brushColor() const { return brush_; }

  QPoint PenPos() const { return pos_; }
  void MoveTo(int x, int y) { pos_ = QPoint(x, y); }
  // A line in the pen colour from the pen position to (x, y); the pen moves there.
  void LineTo(int x, int y);

  // The whole image in the brush colour.
  void Clear(const QColor& color);
  // Rectangle outlined with the pen and filled with the brush; right and bottom
  // are the first column and row outside it.
  void Rectangle(int left, int top, int right, int bottom);

  // Text with its top-left corner at (x, y), on the brush colour, in `textColor`.
  void TextOut(int x, int y, const QString& text, const QColor& textColor);
  QSize TextExtent(const QString& text) const;
  void SetFont(const QFont& font) { painter_.setFont(font); }

 private:
  QImage& image_;
  QPainter painter_;
  QPoint pos_{0, 0};
  QColor pen_{Qt::black};
  QColor brush_{Qt::white};
};

}  // namespace vs32::gui
