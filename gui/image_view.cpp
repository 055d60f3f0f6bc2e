#include "gui/image_view.h"

#include <QMouseEvent>
#include <QPainter>

namespace vs32::gui {

ImageView::ImageView(const QString& name, int width, int height, QWidget* parent)
    : QWidget(parent), picture_(width, height, QImage::Format_RGB32) {
  setObjectName(name);
  picture_.fill(Qt::white);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(rect(), picture_);
}

void ImageView::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  emit pressed(at.x(), at.y(), event->button());
}

void ImageView::mouseDoubleClickEvent(QMouseEvent*) {
  emit doubleClicked();
}

}  // namespace vs32::gui
