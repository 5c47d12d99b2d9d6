// Test entry point: every test program runs with a QApplication, on the offscreen
// platform unless the environment chooses another one.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/windows/Windows.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  corvald::InstallWindows();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
