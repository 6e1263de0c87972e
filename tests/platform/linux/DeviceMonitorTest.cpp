// The device monitor on a built /dev tree (inotify) and on udev messages fed
// by hand (udev refuses built /sys trees).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <memory>
#include <ostream>
#include <vector>

#include "platform/DeviceLists.h"
#include "platform/linux/LinuxDeviceMonitor.h"
#include "platform/LastError.h"
#include "support/FakeTree.h"
#include "support/FakeUdevSource.h"

namespace platform {
void PrintTo(const DeviceNotice& n, std::ostream* os) {
  *os << (n.kind == DeviceNotice::Kind::Arrival ? "arrival " : "removal ")
      << (n.type == DeviceNotice::Type::Port ? "port " : "interface ") << n.name;
}
}  // namespace platform

namespace {

namespace fs = std::filesystem;
using platform::LinuxDeviceMonitor;
using platform::DeviceNotice;
using Kind = DeviceNotice::Kind;
using Type = DeviceNotice::Type;

DeviceNotice PortArrival(const std::string& name) { return {Kind::Arrival, Type::Port, name}; }
DeviceNotice PortRemoval(const std::string& name) { return {Kind::Removal, Type::Port, name}; }

// Waits on the monitor's descriptor and reads notices until 'last' came
// (or a generous deadline passed).
std::vector<DeviceNotice> CollectUntil(LinuxDeviceMonitor& monitor, const DeviceNotice& last) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  std::vector<DeviceNotice> got;
  while (std::find(got.begin(), got.end(), last) == got.end() && Clock::now() < deadline) {
    pollfd ready{monitor.Descriptor(), POLLIN, 0};
    ::poll(&ready, 1, 100);
    while (auto notice = monitor.Next()) got.push_back(std::move(*notice));
  }
  return got;
}

TEST(DeviceMonitorTest, LinksToPseudoTerminalsInDevComeAndGo) {
  FakeTree tree;
  tree.Pts(0);
  tree.Pts(1);
  tree.Link(tree.dev() / "ttyOLD", "pts/1");  // there before the monitor
  tree.File(tree.dev() / "old.txt");
  auto monitor = LinuxDeviceMonitor::Create(tree.Dev(), nullptr, tree.Sys());
  ASSERT_TRUE(monitor);
  EXPECT_EQ(monitor->PresentPorts(), std::set<std::string>{"ttyOLD"});

  // Each step ends in a port notice, so entries that are no ports are known
  // to have passed without one.
  const struct {
    const char* what;
    std::function<void()> act;
    std::vector<DeviceNotice> expected;
  } steps[] = {
      {"entries that are no ports, then a relative link to a slave",
       [&] {
         tree.File(tree.dev() / "notes");
         tree.Link(tree.dev() / "ttyFILE", "notes");        // leads to a plain file
         tree.Link(tree.dev() / "ttyNOWHERE", "pts/9");     // leads nowhere
         tree.Link(tree.dev() / "ttyOUT", "/dev/null");     // leads out of <dev>
         tree.Link(tree.dev() / ".ttyHIDDEN", "pts/0");     // hidden
         fs::create_directories(tree.dev() / "serial" / "by-id");
         tree.Link(tree.dev() / "serial" / "by-id" / "usb-x", "../../pts/0");  // not directly in <dev>
         fs::remove(tree.dev() / "ttyNOWHERE");
         fs::remove(tree.dev() / "old.txt");
         tree.Link(tree.dev() / "ttyGW0", "pts/0");
       },
       {PortArrival("ttyGW0")}},
      {"an absolute link to a slave",
       [&] { tree.Link(tree.dev() / "ttyABS", tree.dev() / "pts" / "1"); },
       {PortArrival("ttyABS")}},
      {"a rename: the old name goes, the new one comes",
       [&] { fs::rename(tree.dev() / "ttyGW0", tree.dev() / "ttyGW1"); },
       {PortRemoval("ttyGW0"), PortArrival("ttyGW1")}},
      {"removed links: known ports only",
       [&] {
         fs::remove(tree.dev() / "ttyGW1");
         fs::remove(tree.dev() / "ttyFILE");
         fs::remove(tree.dev() / "notes");
         fs::remove(tree.dev() / "ttyOLD");
         tree.Link(tree.dev() / "ttyEND", "pts/0");
       },
       {PortRemoval("ttyGW1"), PortRemoval("ttyOLD"), PortArrival("ttyEND")}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(CollectUntil(*monitor, step.expected.back()), step.expected);
  }
  EXPECT_FALSE(monitor->Next());
  EXPECT_EQ(monitor->PresentPorts(), (std::set<std::string>{"ttyABS", "ttyEND"}));
}

// The port names the two present-port lists give for a tree.
std::set<std::string> ListedPorts(const FakeTree& tree) {
  const auto names = platform::SerialPortNames(tree.Sys(), tree.Dev());
  return {names.begin(), names.end()};
}
std::set<std::string> FriendlyListedPorts(const FakeTree& tree) {
  std::set<std::string> names;
  for (const auto& friendly : platform::PortFriendlyNames(tree.Sys(), tree.Dev())) {
    const auto open = friendly.rfind(" (");
    names.insert(friendly.substr(open + 2, friendly.size() - open - 3));
  }
  return names;
}

// One rule says which entries of <dev> are ports: the monitor's notices
// follow what the lists show, before and after each change. A registered
// port comes with its node, as a driver makes them.
TEST(DeviceMonitorTest, NoticesFollowWhatThePortListsShow) {
  const auto registered = [](FakeTree& t, const std::string& name, const std::string& usbPort) {
    t.UsbSerial(name, usbPort, "ftdi_sio", "FT232R USB UART");
    ASSERT_TRUE(t.Node(t.dev() / name, S_IFCHR));
  };
  const struct {
    const char* what;
    std::function<void(FakeTree&)> before;  // the tree the monitor starts on
    std::function<void(FakeTree&)> change;
    std::vector<DeviceNotice> expected;
    std::set<std::string> present;  // ports after the change
  } cases[] = {
      {"a hidden link is no port", [](FakeTree& t) { t.Pts(3); },
       [](FakeTree& t) { t.Link(t.dev() / ".hidden0", "pts/3"); }, {}, {}},
      {"a character node unknown to sysfs is no port, nor a link to it", [](FakeTree&) {},
       [](FakeTree& t) {
         ASSERT_TRUE(t.Node(t.dev() / "ttyCHR9", S_IFCHR));
         t.Link(t.dev() / "gps1", "ttyCHR9");
       },
       {}, {}},
      {"a virtual console and a link to it are no ports", [](FakeTree&) {},
       [](FakeTree& t) {
         ASSERT_TRUE(t.Node(t.dev() / "tty5", S_IFCHR));
         t.Link(t.dev() / "ttyCON", "tty5");
       },
       {}, {}},
      {"a registered port's node, then a link to it", [](FakeTree&) {},
       [&](FakeTree& t) {
         registered(t, "ttyUSB4", "1-4");
         t.Link(t.dev() / "gps0", "ttyUSB4");
       },
       {PortArrival("ttyUSB4"), PortArrival("gps0")}, {"ttyUSB4", "gps0"}},
      {"a dangling link whose pseudo-terminal appears later",
       [](FakeTree& t) { t.Link(t.dev() / "ttyLATE", "pts/7"); }, [](FakeTree& t) { t.Pts(7); },
       {PortArrival("ttyLATE")}, {"ttyLATE"}},
      {"a dangling link whose port appears later",
       [](FakeTree& t) { t.Link(t.dev() / "gps2", "ttyUSB5"); },
       [&](FakeTree& t) { registered(t, "ttyUSB5", "1-5"); },
       {PortArrival("ttyUSB5"), PortArrival("gps2")}, {"ttyUSB5", "gps2"}},
      {"a port link renamed over by a link to another pseudo-terminal",
       [](FakeTree& t) {
         t.Pts(3);
         t.Pts(4);
         t.Link(t.dev() / "ttyGW0", "pts/3");
       },
       [](FakeTree& t) {
         t.Link(t.dev() / ".new", "pts/4");
         fs::rename(t.dev() / ".new", t.dev() / "ttyGW0");
       },
       {PortRemoval("ttyGW0"), PortArrival("ttyGW0")}, {"ttyGW0"}},
      {"a port link renamed over by a plain file",
       [](FakeTree& t) {
         t.Pts(3);
         t.Link(t.dev() / "ttyGW0", "pts/3");
       },
       [](FakeTree& t) {
         t.File(t.dev() / "plain");
         fs::rename(t.dev() / "plain", t.dev() / "ttyGW0");
       },
       {PortRemoval("ttyGW0")}, {}},
      {"a link whose pseudo-terminal goes",
       [](FakeTree& t) {
         t.Pts(5);
         t.Link(t.dev() / "ttyGONE", "pts/5");
       },
       [](FakeTree& t) { fs::remove(t.dev() / "pts" / "5"); }, {PortRemoval("ttyGONE")}, {}},
      {"a registered port goes, and the link to it with it",
       [&](FakeTree& t) {
         registered(t, "ttyUSB6", "1-6");
         t.Link(t.dev() / "gps3", "ttyUSB6");
       },
       [](FakeTree& t) {
         fs::remove(t.dev() / "ttyUSB6");
         fs::remove(t.sys() / "class" / "tty" / "ttyUSB6");
       },
       {PortRemoval("ttyUSB6"), PortRemoval("gps3")}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTree tree;
    tree.Pts(0);
    c.before(tree);
    auto monitor = LinuxDeviceMonitor::Create(tree.Dev(), nullptr, tree.Sys());
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->PresentPorts(), ListedPorts(tree));
    c.change(tree);
    // A last port closes the change, so what passed without a notice is
    // known to have passed.
    tree.Link(tree.dev() / "ttyEND", "pts/0");
    std::vector<DeviceNotice> expected = c.expected;
    expected.push_back(PortArrival("ttyEND"));
    EXPECT_EQ(CollectUntil(*monitor, expected.back()), expected);
    std::set<std::string> present = c.present;
    present.insert("ttyEND");
    EXPECT_EQ(monitor->PresentPorts(), present);
    EXPECT_EQ(ListedPorts(tree), present);
    EXPECT_EQ(FriendlyListedPorts(tree), present);
  }
}

TEST(DeviceMonitorTest, UdevMessagesOfAUsbSerialAdapter) {
  FakeTree tree;
  auto feed = std::make_shared<FakeUdevFeed>();
  auto monitor = LinuxDeviceMonitor::Create(tree.Dev(), std::make_unique<FakeUdevSource>(feed), tree.Sys());
  ASSERT_TRUE(monitor);
  const std::string usb = FakeUdevFeed::UsbPath("1-2");
  const DeviceNotice last = PortArrival("ttyACM9");

  feed->PlugUsbSerial("ttyUSB0", "1-2");
  feed->WakeEmpty();  // a wake-up that brings nothing
  // Messages that are no arrival or removal of a port or a USB device.
  feed->Push({"change", "tty", "", "/dev/ttyUSB0", ""});
  feed->Push({"bind", "usb", "usb_device", "", usb});
  feed->Push({"add", "usb", "usb_interface", "", usb + "/1-2:1.0"});
  feed->Push({"add", "tty", "", "/dev/tty7", "/sys/devices/virtual/tty/tty7"});
  feed->Push({"add", "usb", "usb_device", "", ""});  // nothing to name it by
  feed->Push({"add", "tty", "", "/dev/ttyUSB0", ""});  // already reported
  feed->PullUsbSerial("ttyUSB0", "1-2");
  feed->Push({"remove", "tty", "", "/dev/ttyUSB0", ""});  // already reported
  // A message without a node is named by its sysfs path.
  feed->Push({"add", "tty", "", "", "/sys/devices/pci0000:00/usb1/1-3/1-3:1.0/tty/ttyACM9"});

  EXPECT_EQ(CollectUntil(*monitor, last),
            (std::vector<DeviceNotice>{{Kind::Arrival, Type::DeviceInterface, usb}, PortArrival("ttyUSB0"),
                                       PortRemoval("ttyUSB0"), {Kind::Removal, Type::DeviceInterface, usb},
                                       last}));
}

TEST(DeviceMonitorTest, APortSeenByUdevAndInDevIsReportedOnce) {
  FakeTree tree;
  auto feed = std::make_shared<FakeUdevFeed>();
  auto monitor = LinuxDeviceMonitor::Create(tree.Dev(), std::make_unique<FakeUdevSource>(feed), tree.Sys());
  ASSERT_TRUE(monitor);
  const std::string usb = FakeUdevFeed::UsbPath("1-2");
  // The node comes first (devtmpfs makes it once the port is registered),
  // udev's messages after it; on removal the node goes first too.
  tree.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
  ASSERT_TRUE(tree.Node(tree.dev() / "ttyUSB0", S_IFCHR));
  EXPECT_EQ(CollectUntil(*monitor, PortArrival("ttyUSB0")), std::vector<DeviceNotice>{PortArrival("ttyUSB0")});
  feed->PlugUsbSerial("ttyUSB0", "1-2");
  const DeviceNotice plugged{Kind::Arrival, Type::DeviceInterface, usb};
  EXPECT_EQ(CollectUntil(*monitor, plugged), std::vector<DeviceNotice>{plugged});
  fs::remove(tree.dev() / "ttyUSB0");
  EXPECT_EQ(CollectUntil(*monitor, PortRemoval("ttyUSB0")), std::vector<DeviceNotice>{PortRemoval("ttyUSB0")});
  feed->PullUsbSerial("ttyUSB0", "1-2");
  const DeviceNotice pulled{Kind::Removal, Type::DeviceInterface, usb};
  EXPECT_EQ(CollectUntil(*monitor, pulled), std::vector<DeviceNotice>{pulled});
}

TEST(DeviceMonitorTest, ARootThatCannotBeWatchedMakesNoMonitor) {
  FakeTree tree;
  platform::SetLastError(0);
  EXPECT_FALSE(LinuxDeviceMonitor::Create(tree.Dev() + "/absent", nullptr));
  EXPECT_EQ(platform::GetLastError(), ENOENT);
  tree.File(tree.dev() / "file");
  EXPECT_FALSE(LinuxDeviceMonitor::Create((tree.dev() / "file").string(), nullptr));
  EXPECT_EQ(platform::GetLastError(), ENOTDIR);
}

TEST(DeviceMonitorTest, PortNames) {
  for (const char* name : {"ttyUSB0", "ttyS0", "ttyACM12", "ttyGW0", "rfcomm0", "ttyAMA0"})
    EXPECT_TRUE(platform::LooksLikePortName(name)) << name;
  for (const char* name : {"tty", "tty0", "tty63", "console", "ptmx", "null", "pts", ""})
    EXPECT_FALSE(platform::LooksLikePortName(name)) << name;
}

}  // namespace
