// Device names on Windows: a bare name is a device of the namespace \\.\,
// never a file of the working folder; a name with either separator is a
// path as given.
#include <gtest/gtest.h>

#include <string>

#include "platform/DeviceNames.h"

namespace {

TEST(WindowsDeviceNamesTest, ABareNameOpensInTheDeviceNamespace) {
  const struct {
    std::string name, path;
  } cases[] = {
      {"COM5", "\\\\.\\COM5"},
      {"com12", "\\\\.\\com12"},
      {"\\\\.\\COM5", "\\\\.\\COM5"},      // already in the namespace
      {"C:\\ports\\COM5", "C:\\ports\\COM5"},  // a path
      {"ports/COM5", "ports/COM5"},        // the other separator too
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::DevicePath(c.name), c.path) << c.name;
  EXPECT_EQ(platform::InDeviceRoot("COM5"), "\\\\.\\COM5");
  EXPECT_EQ(std::string(platform::kDeviceNamespacePrefix) + "COM5", platform::DevicePath("COM5"));
}

}  // namespace
