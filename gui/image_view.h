// An image control: shows its picture stretched over the control and reports
// mouse presses and double clicks in control coordinates.
#pragma once

#include <QImage>
#include <QWidget>

namespace vs32::gui {

class ImageView : public QWidget {
  Q_OBJECT

 public:
  // The picture has the control's design size and starts white.
  ImageView(const QString& name, int width, int height, QWidget* parent);

  QImage& picture() { return picture_; }
  const QImage& picture() const { return picture_; }

 signals:
  void pressed(int x, int y, Qt::MouseButton button);
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace vs32::gui
