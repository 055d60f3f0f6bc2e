#include "gui/message_box.h"

#include <QMessageBox>

namespace vs32::gui {

void ShowModalBox(QWidget* parent, const BoxRequest& box) {
  QMessageBox::Icon icon = QMessageBox::Information;
  if (box.icon == BoxIcon::kWarning) icon = QMessageBox::Warning;
  if (box.icon == BoxIcon::kError) icon = QMessageBox::Critical;
  QMessageBox message(icon, box.caption, box.text, QMessageBox::Ok, parent);
  message.exec();
}

}  // namespace vs32::gui
