// Device lists read from built sysfs and /dev trees: which names each list
// takes, and that they come in the order the trees list them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <map>

#include "platform/PtyPair.h"
#include "platform/DeviceLists.h"
#include "support/FakeTree.h"

namespace {

using Names = std::vector<std::string>;

Names Joined(Names first, const Names& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

TEST(DeviceListsTest, DeviceNodesAreTheNodesAndTheLinksToNodesDirectlyInDev) {
  FakeTree tree;
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const auto d = tree.dev();
  ASSERT_TRUE(tree.Node(d / "ttyS0", S_IFCHR));
  ASSERT_TRUE(tree.Node(d / "null", S_IFCHR));
  ASSERT_TRUE(tree.Node(d / "pts" / "ptmx", S_IFCHR));
  ASSERT_TRUE(tree.Node(d / "pts" / "3", S_IFCHR));        // in a subfolder: a path, not a name
  std::set<std::string> listed = {"ttyS0", "null", "ptmx"};
  if (tree.Node(d / "sr0", S_IFBLK)) listed.insert({"sr0", "cdrom"});  // block nodes need privilege
  tree.Link(d / "ptmx", "pts/ptmx");                       // a node within /dev
  tree.Link(d / "cdrom", "sr0");
  tree.File(d / "notes");                                  // regular file
  tree.Link(d / "notes-link", "notes");
  std::filesystem::create_directories(d / "shm");          // folder
  tree.Link(d / "fd", "/proc/self/fd");
  ASSERT_EQ(::mkfifo((d / "initctl").c_str(), 0600), 0);    // neither character nor block
  tree.Link(d / "tty9", pty.path());                       // a real terminal, but outside /dev
  tree.Link(d / "stale", "pts/9");

  EXPECT_EQ(platform::DeviceNodeNames(tree.Dev()), FakeTree::InDirectoryOrder(d, listed));
}

// One tree for the three port lists: what each takes of it, in system order
// (the registered ports as sysfs lists them, then the /dev links as /dev
// lists them), nothing sorted.
TEST(DeviceListsTest, PortListsTakeTheirSourcesInSystemOrder) {
  FakeTree tree;
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  tree.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
  tree.UsbSerial("ttyUSB1", "1-3", "ftdi_sio", "FT232R USB UART");  // the same description
  tree.Uart("ttyS0", 4);
  tree.Uart("ttyS5", 0);                                  // ghost
  tree.Tty("ttyXY0", "platform/xy", "platform", "xy");    // a port without a description
  tree.Tty("ttyUSB7", "usb1/1-9/1-9:1.0/ttyUSB7", "usb-serial", "");  // no driver
  const auto d = tree.dev();
  tree.Pts(3);
  tree.File(d / "ttyUSB0");
  tree.File(d / "ttyS5");
  tree.File(d / "rtc0");
  tree.File(tree.root() / "outside" / "pts" / "1");
  tree.Link(d / "ttyGW0", "pts/3");                       // virtual port
  tree.Link(d / "gps0", "ttyUSB0");                       // a link to a registered port
  tree.Link(d / "rtc", "rtc0");                           // not a serial node
  tree.Link(d / "ghost5", "ttyS5");
  tree.Link(d / "escape1", "../outside/pts/1");           // leaves /dev
  tree.Link(d / "ttyPTY0", pty.path());                   // a real terminal, but outside /dev

  const Names registered = FakeTree::InDirectoryOrder(tree.sys() / "class" / "tty",
                                                      {"ttyUSB0", "ttyUSB1", "ttyS0", "ttyXY0"});
  const Names ports = Joined(registered, FakeTree::InDirectoryOrder(d, {"ttyGW0", "gps0"}));
  const std::map<std::string, std::string> description = {
      {"ttyUSB0", "USB Serial Port (FT232R USB UART)"},
      {"ttyUSB1", "USB Serial Port (FT232R USB UART)"},
      {"ttyS0", "Communications Port"},
      {"ttyGW0", "Virtual Serial Port"},
      {"gps0", "Virtual Serial Port"}};
  Names friendly;
  for (const auto& name : ports)
    if (description.count(name) != 0) friendly.push_back(description.at(name) + " (" + name + ")");

  const struct {
    const char* what;
    Names got;
    Names expected;
  } cases[] = {
      {"registered ports", platform::RegisteredPortNames(tree.Sys()), registered},
      {"serial ports", platform::SerialPortNames(tree.Sys(), tree.Dev()), ports},
      {"friendly names", platform::PortFriendlyNames(tree.Sys(), tree.Dev()), friendly},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(DeviceListsTest, MissingTreesGiveEmptyLists) {
  FakeTree tree;
  const std::string sys = (tree.root() / "no-sys").string();
  const std::string dev = (tree.root() / "no-dev").string();
  EXPECT_TRUE(platform::DeviceNodeNames(dev).empty());
  EXPECT_TRUE(platform::SerialPortNames(sys, dev).empty());
  EXPECT_TRUE(platform::RegisteredPortNames(sys).empty());
  EXPECT_TRUE(platform::PortFriendlyNames(sys, dev).empty());
}

}  // namespace
