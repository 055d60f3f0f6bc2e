// Helpers of the window tests: one QApplication for the test program (the
// offscreen platform is set by CTest; set here too for direct runs), INI
// files, and a window started in a scratch folder with its boxes collected.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/message_box.h"
#include "gui/myvsrx1.h"

namespace vs32::gui::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "vs32_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto* created = new QApplication(argc, argv);
    SetUpApplication();
    return created;
  }();
  return *app;
}

// A first base class or member for fixtures whose widgets are members: the
// application exists before they are built.
struct WithApp {
  WithApp() { App(); }
};

// Message boxes taken by a test instead of being shown.
struct BoxLog {
  std::vector<BoxRequest> boxes;
  BoxFunction function() {
    return [this](QWidget*, const BoxRequest& box) { boxes.push_back(box); };
  }
  bool Has(const QString& caption) const {
    for (const BoxRequest& box : boxes) {
      if (box.caption == caption) return true;
    }
    return false;
  }
  const BoxRequest* Find(const QString& caption) const {
    for (const BoxRequest& box : boxes) {
      if (box.caption == caption) return &box;
    }
    return nullptr;
  }
};

// Runs the event loop until `done` holds or `timeoutMs` passes.
template <typename Done>
bool WaitFor(Done done, int timeoutMs) {
  return QTest::qWaitFor(done, timeoutMs);
}

}  // namespace vs32::gui::test
