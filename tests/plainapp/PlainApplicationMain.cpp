// Test entry of the program that runs the component under an application
// object of Qt's own, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "PlainApplication.h"

namespace {

int applicationArgc = 1;
char applicationName[] = "plainapp_tests";
char* applicationArgv[] = {applicationName, nullptr};
std::unique_ptr<QApplication> application;

}  // namespace

QApplication& PlainApplication() {
  if (!application) application = std::make_unique<QApplication>(applicationArgc, applicationArgv);
  return *application;
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  application.reset();
  return result;
}
