// An up-down control attached to the edit box on its left: each arrow click
// takes the edit's current number (truncated to an integer) as its position,
// steps it by one within its range, without wrapping, and writes it back.
#pragma once

#include <QLineEdit>
#include <QWidget>

namespace vs32::gui {

class UpDown : public QWidget {
  Q_OBJECT

 public:
  UpDown(const QString& name, QLineEdit* buddy, int minimum, int maximum, int position,
         QWidget* parent);

  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }
  int position() const { return position_; }
  // Sets the position (limited to the range) and the edit's text to it.
  void setPosition(int position);

  // The arrow clicks.
  void StepUp() { Step(+1); }
  void StepDown() { Step(-1); }

 private:
  void Step(int delta);

  QLineEdit* buddy_;
  int minimum_;
  int maximum_;
  int position_;
};

}  // namespace vs32::gui
