#include "gui/up_down.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "config/settings.h"

namespace vs32::gui {

UpDown::UpDown(const QString& name, QLineEdit* buddy, int minimum, int maximum, int position,
               QWidget* parent)
    : QWidget(parent),
      buddy_(buddy),
      minimum_(minimum),
      maximum_(maximum),
      position_(std::clamp(position, minimum, maximum)) {
  setObjectName(name);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* up = new QToolButton(this);
  up->setObjectName(name + "Up");
  up->setArrowType(Qt::UpArrow);
  up->setAutoRepeat(true);
  auto* down = new QToolButton(this);
  down->setObjectName(name + "Down");
  down->setArrowType(Qt::DownArrow);
  down->setAutoRepeat(true);
  for (QToolButton* button : {up, down}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(button);
  }
  connect(up, &QToolButton::clicked, this, &UpDown::StepUp);
  connect(down, &QToolButton::clicked, this, &UpDown::StepDown);
}

void UpDown::setPosition(int position) {
  position_ = std::clamp(position, minimum_, maximum_);
  buddy_->setText(QString::number(position_));
}

void UpDown::Step(int delta) {
  // The edit may hold a decimal text or one typed since the last click: start
  // from what it shows when that is a number.
  double shown = 0;
  if (ParseSettingDouble(buddy_->text().toStdString(), shown)) {
    position_ = static_cast<int>(std::clamp(std::trunc(shown), double(minimum_), double(maximum_)));
  }
  setPosition(position_ + delta);
}

}  // namespace vs32::gui
