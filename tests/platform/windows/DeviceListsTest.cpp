// The device lists and the port list from the system's own sources, with
// ports the test registers in the registry (and removes after): the
// serial-port map, the devices of the "Ports" class the device-setup
// library lists, and the MS-DOS device names.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/DeviceLists.h"
#include "platform/SerialPortList.h"
#include "support/WindowsPorts.h"

namespace {

using Strings = std::vector<std::string>;
using windowstest::RegisteredPortDevice;
using windowstest::SerialMapEntry;

// The entries of 'list' that are among 'wanted', in the list's order (the
// system has entries of its own besides the test's).
Strings Among(const Strings& list, const Strings& wanted) {
  Strings found;
  for (const auto& entry : list)
    if (std::find(wanted.begin(), wanted.end(), entry) != wanted.end()) found.push_back(entry);
  return found;
}

const platform::SerialPortEntry* Find(const std::vector<platform::SerialPortEntry>& ports, const std::string& name) {
  const auto it = std::find_if(ports.begin(), ports.end(), [&](const auto& p) { return p.name == name; });
  return it == ports.end() ? nullptr : &*it;
}

TEST(WindowsDeviceListsTest, TheSerialPortMapGivesItsTextValuesOnly) {
  const SerialMapEntry first("\\Device\\QlTest0", "COM201");
  const SerialMapEntry expandable("\\Device\\QlTest1", "COM202", REG_EXPAND_SZ);
  const SerialMapEntry second("\\Device\\QlTest2", "COM203");
  ASSERT_TRUE(first.ok() && expandable.ok() && second.ok());
  const Strings ports = platform::RegisteredPortNames();
  EXPECT_EQ(Among(ports, {"COM201", "COM202", "COM203"}), (Strings{"COM201", "COM203"}));
}

TEST(WindowsDeviceListsTest, FriendlyNamesOfThePortsClassAsStored) {
  const RegisteredPortDevice adapter("COM211", "USB Serial Port", "USB Serial Port (COM211)");
  const RegisteredPortDevice twin("COM212", "USB Serial Port", "USB Serial Port (COM211)");  // the same name again
  const RegisteredPortDevice unnamed("COM213", "Communications Port");                        // no friendly name
  const RegisteredPortDevice lowerCaseClass("COM214", "Modem Port", "Modem Port (COM214)",
                                            "{4d36e978-e325-11ce-bfc1-08002be10318}");
  const RegisteredPortDevice otherClass("COM215", "Mouse", "Mouse (COM215)", "{4D36E96F-E325-11CE-BFC1-08002BE10318}");
  ASSERT_TRUE(adapter.ok() && twin.ok() && unnamed.ok() && lowerCaseClass.ok() && otherClass.ok());
  Strings names = Among(platform::PortFriendlyNames(),
                        {"USB Serial Port (COM211)", "Communications Port (COM213)", "Modem Port (COM214)",
                         "Mouse (COM215)"});
  std::sort(names.begin(), names.end());  // the library's order is its own
  EXPECT_EQ(names, (Strings{"Modem Port (COM214)", "USB Serial Port (COM211)", "USB Serial Port (COM211)"}));
}

// The tool's discovery: present ports of the class named "COM" and a digit,
// with their device descriptions.
TEST(WindowsDeviceListsTest, PresentPortsWithTheirDescriptions) {
  const RegisteredPortDevice usb("COM221", "USB Serial Port");
  const RegisteredPortDevice lowerCase("com222", "USB Serial Device");
  const RegisteredPortDevice undescribed("COM223", std::nullopt);
  const RegisteredPortDevice printer("LPT1", "Printer Port");
  const RegisteredPortDevice shortName("COM", "Odd Port");
  const RegisteredPortDevice noDigit("COMX1", "Odd Port");
  ASSERT_TRUE(usb.ok() && lowerCase.ok() && undescribed.ok() && printer.ok() && shortName.ok() && noDigit.ok());

  const auto ports = platform::ListPresentPorts();
  ASSERT_TRUE(Find(ports, "COM221"));
  EXPECT_EQ(Find(ports, "COM221")->description, "USB Serial Port");
  ASSERT_TRUE(Find(ports, "com222"));
  EXPECT_EQ(Find(ports, "com222")->description, "USB Serial Device");
  ASSERT_TRUE(Find(ports, "COM223"));
  EXPECT_EQ(Find(ports, "COM223")->description, "");
  for (const char* passedOver : {"LPT1", "COM", "COMX1"}) EXPECT_FALSE(Find(ports, passedOver)) << passedOver;
  for (const auto& port : ports) {
    ASSERT_GT(port.name.size(), 3u);
    EXPECT_EQ(std::toupper(static_cast<unsigned char>(port.name[0])), 'C') << port.name;
  }
}

// MS-DOS device names: all of them, and those that name ports.
TEST(WindowsDeviceListsTest, DosDeviceNamesAndThoseOfPorts) {
  const Strings all = platform::DeviceNodeNames();
  ASSERT_FALSE(all.empty());
  EXPECT_TRUE(std::find(all.begin(), all.end(), "") == all.end());
  const Strings ports = platform::SerialPortNames();
  for (const auto& name : ports) {
    EXPECT_TRUE(name.rfind("COM", 0) == 0 || name.rfind("\\\\.\\COM", 0) == 0) << name;
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  }
  for (const auto& name : all)
    if (name.rfind("COM", 0) == 0) EXPECT_NE(std::find(ports.begin(), ports.end(), name), ports.end()) << name;
}

}  // namespace
