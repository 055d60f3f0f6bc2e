// Texts of the About and Help boxes.
#pragma once

#include <QString>

namespace vs32::gui {

QString AboutText();
QString HelpText(bool russian);

}  // namespace vs32::gui
