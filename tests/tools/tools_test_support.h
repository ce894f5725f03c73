#pragma once
// The tools tests' application object.

#include <QApplication>

namespace varnex2::tools::testing {

inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_tools";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives for the whole run
  return *app;
}

}  // namespace varnex2::tools::testing
