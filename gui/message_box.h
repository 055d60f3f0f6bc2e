// Every message box of the windowed program goes through one function, so that
// tests can take the boxes instead of a modal dialog.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

namespace vs32::gui {

enum class BoxIcon { kInformation, kWarning, kError };

struct BoxRequest {
  BoxIcon icon = BoxIcon::kInformation;
  QString caption;
  QString text;
};

using BoxFunction = std::function<void(QWidget* parent, const BoxRequest& box)>;

// The normal way: a modal QMessageBox with an OK button.
void ShowModalBox(QWidget* parent, const BoxRequest& box);

}  // namespace vs32::gui
