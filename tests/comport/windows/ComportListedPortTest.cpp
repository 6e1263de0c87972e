// A port of the pseudo-terminal bridge registered as a device of the
// "Ports" class, as an adapter's driver would register it: the port list
// shows it with its description and the component opens it by the listed
// name (in the device namespace, \\.\COMn).
//
// Wine lets a second handle open a communications port that is open
// already, where Windows refuses it with access denied, so a port in use
// is covered by the table of codes (tests/platform/windows/OpenFailureTest)
// and not here.
#include <gtest/gtest.h>

#include <algorithm>

#include "comport/Comport.h"
#include "platform/PtyPair.h"
#include "platform/SerialPortList.h"
#include "support/WindowsPorts.h"

namespace {

TEST(WindowsComportListedPortTest, TheBridgesPortIsListedAndOpensByItsListedName) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const windowstest::RegisteredPortDevice device(pty.name(), "USB Serial Port");
  ASSERT_TRUE(device.ok());
  const auto ports = platform::ListPresentPorts();
  const auto listed = std::find_if(ports.begin(), ports.end(), [&](const auto& p) { return p.name == pty.name(); });
  ASSERT_NE(listed, ports.end());
  EXPECT_EQ(listed->description, "USB Serial Port");

  TComPort port;
  port.SetDeviceName(QString::fromStdString(listed->name));
  EXPECT_EQ(port.DevicePath().toStdString(), "\\\\.\\" + pty.name());
  port.Open();
  EXPECT_TRUE(port.Active());
  port.WriteString("AT\r");
  EXPECT_EQ(pty.Receive(3), "AT\r");
  port.Close();
}

}  // namespace
