// The component's device names on Windows: DevicePath puts a bare name in
// the device namespace, ShortDeviceName takes the namespace prefix off.
#include <gtest/gtest.h>

#include <QString>

#include "comport/Comport.h"

namespace {

TEST(WindowsComportDeviceNamesTest, TheNamespacePrefixComesAndGoes) {
  const struct {
    const char* name;
    const char* path;
    const char* shortName;
  } cases[] = {
      {"COM3", "\\\\.\\COM3", "COM3"},
      {"\\\\.\\COM12", "\\\\.\\COM12", "COM12"},
      {"C:\\COM3", "C:\\COM3", "C:\\COM3"},
      {"\\\\.\\", "\\\\.\\", ""},
      {"", "", ""},
  };
  TComPort port;
  for (const auto& c : cases) {
    port.SetDeviceName(QString::fromLatin1(c.name));
    EXPECT_EQ(port.DevicePath(), QString::fromLatin1(c.path)) << c.name;
    EXPECT_EQ(port.ShortDeviceName(), QString::fromLatin1(c.shortName)) << c.name;
  }
}

}  // namespace
