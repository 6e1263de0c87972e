// The Windows device monitor: its hidden window takes device-change
// messages, queues the notices of arrivals and removals of ports and device
// interfaces, and wakes the thread's message loop once for them.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <optional>
#include <vector>

#include "platform/LastError.h"
#include "platform/windows/WindowsDeviceMonitor.h"
#include "support/WindowsDeviceMessages.h"

namespace {

using platform::DeviceNotice;
using platform::WindowsDeviceMonitor;
using Kind = DeviceNotice::Kind;
using Type = DeviceNotice::Type;
using windowstest::SendDeviceChange;

// Hands the monitor every message waiting for its window, as the message
// loop does; the number it took as its own.
int PumpInto(WindowsDeviceMonitor& monitor) {
  int taken = 0;
  MSG msg;
  while (::PeekMessageA(&msg, monitor.Window(), 0, 0, PM_REMOVE)) {
    if (monitor.TakeMessage(&msg)) ++taken;
    ::DispatchMessageA(&msg);
  }
  return taken;
}

std::vector<DeviceNotice> Drain(WindowsDeviceMonitor& monitor) {
  std::vector<DeviceNotice> notices;
  while (auto notice = monitor.Next()) notices.push_back(*notice);
  return notices;
}

TEST(WindowsDeviceMonitorTest, RegistersAHiddenWindow) {
  auto monitor = WindowsDeviceMonitor::Create();
  ASSERT_TRUE(monitor) << platform::GetLastError();
  EXPECT_TRUE(::IsWindow(monitor->Window()));
  EXPECT_FALSE(::IsWindowVisible(monitor->Window()));
  EXPECT_EQ(monitor->Descriptor(), -1);
  EXPECT_FALSE(monitor->Next());
  const HWND window = monitor->Window();
  monitor.reset();
  EXPECT_FALSE(::IsWindow(window));  // gone with its monitor
}

TEST(WindowsDeviceMonitorTest, ArrivalsAndRemovalsOfPortsAndInterfacesOnly) {
  const auto monitor = WindowsDeviceMonitor::Create();
  ASSERT_TRUE(monitor);
  const std::string usb = windowstest::UsbInterfacePath("A1B2C3");
  const struct {
    WPARAM event;
    DWORD type;
    const char* name;
    std::optional<DeviceNotice> expected;
  } cases[] = {
      {DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM5", DeviceNotice{Kind::Arrival, Type::Port, "COM5"}},
      {DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, usb.c_str(), DeviceNotice{Kind::Arrival, Type::DeviceInterface, usb}},
      {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, "COM5", DeviceNotice{Kind::Removal, Type::Port, "COM5"}},
      {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, usb.c_str(),
       DeviceNotice{Kind::Removal, Type::DeviceInterface, usb}},
      {DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_PORT, "COM5", std::nullopt},
      {DBT_DEVICEREMOVEPENDING, DBT_DEVTYP_PORT, "COM5", std::nullopt},
      {DBT_CONFIGCHANGED, DBT_DEVTYP_DEVICEINTERFACE, "x", std::nullopt},
      {DBT_DEVNODES_CHANGED, DBT_DEVTYP_OEM, "", std::nullopt},
      {DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, "E", std::nullopt},
      {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_OEM, "oem", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.event << " " << c.type);
    SendDeviceChange(monitor->Window(), c.event, c.type, c.name);
    EXPECT_EQ(PumpInto(*monitor), c.expected ? 1 : 0);
    const auto notices = Drain(*monitor);
    EXPECT_EQ(notices, c.expected ? std::vector<DeviceNotice>{*c.expected} : std::vector<DeviceNotice>{});
  }
  // A device-change message without a record says nothing.
  ::SendMessageA(monitor->Window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  EXPECT_EQ(PumpInto(*monitor), 0);
}

// Messages that come together wake the loop once; the notices keep their
// order. Messages of other windows, or others of its own, are not the
// monitor's.
TEST(WindowsDeviceMonitorTest, ABurstWakesTheLoopOnceAndOtherMessagesAreNotItsOwn) {
  const auto monitor = WindowsDeviceMonitor::Create();
  const auto other = WindowsDeviceMonitor::Create();
  ASSERT_TRUE(monitor && other);
  const std::string usb = windowstest::UsbInterfacePath("X9");
  SendDeviceChange(monitor->Window(), DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, usb);
  SendDeviceChange(monitor->Window(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM7");
  SendDeviceChange(monitor->Window(), DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, "COM7");

  MSG foreign{};
  foreign.hwnd = other->Window();
  foreign.message = WM_APP + 0x75;
  EXPECT_FALSE(monitor->TakeMessage(&foreign));
  foreign.hwnd = monitor->Window();
  foreign.message = WM_TIMER;
  EXPECT_FALSE(monitor->TakeMessage(&foreign));
  EXPECT_FALSE(monitor->TakeMessage(nullptr));

  EXPECT_EQ(PumpInto(*monitor), 1);
  EXPECT_EQ(Drain(*monitor), (std::vector<DeviceNotice>{{Kind::Arrival, Type::DeviceInterface, usb},
                                                         {Kind::Arrival, Type::Port, "COM7"},
                                                         {Kind::Removal, Type::Port, "COM7"}}));
  EXPECT_TRUE(Drain(*other).empty());
}

}  // namespace
