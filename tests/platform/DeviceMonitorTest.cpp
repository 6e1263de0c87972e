// The device monitor on a built /dev tree (inotify) and on udev messages fed
// by hand (udev refuses built /sys trees).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <memory>
#include <ostream>
#include <vector>

#include "platform/DeviceMonitor.h"
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
using platform::DeviceMonitor;
using platform::DeviceNotice;
using Kind = DeviceNotice::Kind;
using Type = DeviceNotice::Type;

DeviceNotice PortArrival(const std::string& name) { return {Kind::Arrival, Type::Port, name}; }
DeviceNotice PortRemoval(const std::string& name) { return {Kind::Removal, Type::Port, name}; }

// Waits on the monitor's descriptor and reads notices until 'last' came
// (or a generous deadline passed).
std::vector<DeviceNotice> CollectUntil(DeviceMonitor& monitor, const DeviceNotice& last) {
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

// A character device node that leads to the null device (never a port of
// this machine). False where nodes cannot be made.
bool MakeNode(const fs::path& path) { return ::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; }

TEST(DeviceMonitorTest, LinksToPseudoTerminalsInDevComeAndGo) {
  FakeTree tree;
  tree.Pts(0);
  tree.Pts(1);
  tree.Link(tree.dev() / "ttyOLD", "pts/1");  // there before the monitor
  tree.File(tree.dev() / "old.txt");
  auto monitor = DeviceMonitor::Create(tree.Dev(), nullptr);
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

TEST(DeviceMonitorTest, PortNodesCountByNameAndANameTakenOverIsRemoved) {
  FakeTree tree;
  tree.Pts(0);
  auto monitor = DeviceMonitor::Create(tree.Dev(), nullptr);
  ASSERT_TRUE(monitor);
  if (!MakeNode(tree.dev() / "ttyXR0")) GTEST_SKIP() << "device nodes cannot be made here";
  ASSERT_TRUE(MakeNode(tree.dev() / "tty5"));   // a virtual console
  ASSERT_TRUE(MakeNode(tree.dev() / "null0"));  // no port's name
  tree.Link(tree.dev() / "ttyCON", "tty5");      // a link to a console
  tree.Link(tree.dev() / "gps0", "ttyXR0");      // a link to a port node
  EXPECT_EQ(CollectUntil(*monitor, PortArrival("gps0")),
            (std::vector<DeviceNotice>{PortArrival("ttyXR0"), PortArrival("gps0")}));

  // A port link replaced by a plain file: the port is gone.
  tree.Link(tree.dev() / "ttyGW0", "pts/0");
  EXPECT_EQ(CollectUntil(*monitor, PortArrival("ttyGW0")), std::vector<DeviceNotice>{PortArrival("ttyGW0")});
  tree.File(tree.dev() / "plain");
  fs::rename(tree.dev() / "plain", tree.dev() / "ttyGW0");
  fs::remove(tree.dev() / "ttyXR0");
  EXPECT_EQ(CollectUntil(*monitor, PortRemoval("ttyXR0")),
            (std::vector<DeviceNotice>{PortRemoval("ttyGW0"), PortRemoval("ttyXR0")}));
}

TEST(DeviceMonitorTest, UdevMessagesOfAUsbSerialAdapter) {
  FakeTree tree;
  auto feed = std::make_shared<FakeUdevFeed>();
  auto monitor = DeviceMonitor::Create(tree.Dev(), std::make_unique<FakeUdevSource>(feed));
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
  auto monitor = DeviceMonitor::Create(tree.Dev(), std::make_unique<FakeUdevSource>(feed));
  ASSERT_TRUE(monitor);
  const std::string usb = FakeUdevFeed::UsbPath("1-2");
  // The node comes first (devtmpfs makes it), udev's messages after it; on
  // removal the node goes first too.
  if (!MakeNode(tree.dev() / "ttyUSB0")) GTEST_SKIP() << "device nodes cannot be made here";
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
  EXPECT_FALSE(DeviceMonitor::Create(tree.Dev() + "/absent", nullptr));
  EXPECT_EQ(platform::GetLastError(), ENOENT);
  tree.File(tree.dev() / "file");
  EXPECT_FALSE(DeviceMonitor::Create((tree.dev() / "file").string(), nullptr));
  EXPECT_EQ(platform::GetLastError(), ENOTDIR);
}

TEST(DeviceMonitorTest, PortNames) {
  for (const char* name : {"ttyUSB0", "ttyS0", "ttyACM12", "ttyGW0", "rfcomm0", "ttyAMA0"})
    EXPECT_TRUE(platform::LooksLikePortName(name)) << name;
  for (const char* name : {"tty", "tty0", "tty63", "console", "ptmx", "null", "pts", ""})
    EXPECT_FALSE(platform::LooksLikePortName(name)) << name;
}

}  // namespace
