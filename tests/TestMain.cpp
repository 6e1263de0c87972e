// Test entry for every test program: runs the tests inside the
// application object on the offscreen platform, so widget tests need no
// display.
#include <gtest/gtest.h>

#include "framework/Application.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
