// Port lists read from built sysfs and /dev trees.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "platform/linux/SysfsPorts.h"
#include "support/FakeTree.h"

namespace {

using platform::ListSerialPorts;
using platform::SerialPortEntry;

std::vector<SerialPortEntry> List(const FakeTree& tree) {
  return ListSerialPorts(tree.Sys(), tree.Dev());
}

std::optional<std::string> DescriptionOf(const std::vector<SerialPortEntry>& ports,
                                         const std::string& name) {
  for (const auto& port : ports)
    if (port.name == name) return port.description;
  return std::nullopt;
}

struct SysfsCase {
  const char* what;
  std::function<void(FakeTree&)> build;
  std::string name;
  std::optional<std::string> description;  // nothing: the entry is not listed
};

TEST(SerialPortListTest, SysfsEntriesTakenAndDescribed) {
  const SysfsCase cases[] = {
      {"USB converter with product",
       [](FakeTree& t) { t.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART"); },
       "ttyUSB0", "USB Serial Port (FT232R USB UART)"},
      {"USB converter without product: the root hub's is not borrowed",
       [](FakeTree& t) { t.UsbSerial("ttyUSB1", "1-3", "cp210x", std::nullopt); }, "ttyUSB1",
       "USB Serial Port"},
      {"USB converter with an empty product",
       [](FakeTree& t) { t.UsbSerial("ttyUSB2", "1-4", "pl2303", ""); }, "ttyUSB2",
       "USB Serial Port"},
      {"known converter driver outside the usb-serial bus",
       [](FakeTree& t) {
         t.UsbDevice("usb2/2-1", "USB Serial");
         t.Tty("ttyUSB3", "usb2/2-1/2-1:1.0/ttyUSB3", "other", "ch341");
       },
       "ttyUSB3", "USB Serial Port (USB Serial)"},
      {"CDC-ACM device",
       [](FakeTree& t) { t.Acm("ttyACM0", "1-5", "Gateway CDC"); }, "ttyACM0",
       "USB Serial Device (Gateway CDC)"},
      {"built-in UART", [](FakeTree& t) { t.Uart("ttyS0", 4); }, "ttyS0", "Communications Port"},
      {"8250 ghost (type 0)", [](FakeTree& t) { t.Uart("ttyS5", 0); }, "ttyS5", std::nullopt},
      {"UART with an unreadable type is not a ghost",
       [](FakeTree& t) {
         const auto entry = t.Tty("ttyS6", "platform/serial8250/ttyS6", "platform", "serial8250");
         std::filesystem::create_directories(entry / "type");
       },
       "ttyS6", "Communications Port"},
      {"PNP UART bound to the serial driver",
       [](FakeTree& t) { t.Tty("ttyS1", "pnp0/00:05", "pnp", "serial"); }, "ttyS1",
       "Communications Port"},
      {"platform UART known by its type attribute",
       [](FakeTree& t) {
         t.File(t.Tty("ttyAMA0", "platform/fe201000.serial", "amba", "uart-pl011") / "type",
                "83\n");
       },
       "ttyAMA0", "Communications Port"},
      {"device without a driver",
       [](FakeTree& t) { t.Tty("ttyUSB7", "usb1/1-9/1-9:1.0/ttyUSB7", "usb-serial", ""); },
       "ttyUSB7", std::nullopt},
      {"virtual console without a device",
       [](FakeTree& t) { std::filesystem::create_directories(t.sys() / "class/tty/tty0"); },
       "tty0", std::nullopt},
      {"Bluetooth RFCOMM port (no driver of its own)",
       [](FakeTree& t) { t.Tty("rfcomm0", "usb1/1-7/1-7:1.0/bluetooth/hci0", "", ""); },
       "rfcomm0", "Bluetooth Serial Port"},
      {"unknown kind of port: no description",
       [](FakeTree& t) { t.Tty("ttyXY0", "platform/xy", "platform", "xy-serial"); }, "ttyXY0",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTree tree;
    c.build(tree);
    EXPECT_EQ(DescriptionOf(List(tree), c.name), c.description);
  }
}

TEST(SerialPortListTest, ListIsSortedByName) {
  FakeTree tree;
  tree.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "A");
  tree.Uart("ttyS0", 4);
  tree.Acm("ttyACM0", "1-5", "B");
  tree.Pts(3);
  tree.Link(tree.dev() / "ttyGW0", "pts/3");
  std::vector<std::string> names;
  for (const auto& port : List(tree)) names.push_back(port.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyGW0", "ttyS0", "ttyUSB0"}));
}

TEST(SerialPortListTest, DevLinksToPseudoTerminalsAndPortsAreVirtualPorts) {
  FakeTree tree;
  tree.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
  tree.Uart("ttyS1", 0);  // ghost
  tree.File(tree.dev() / "ttyUSB0");
  tree.File(tree.dev() / "ttyS1");
  tree.File(tree.dev() / "rtc0");
  tree.Pts(3);
  tree.Pts(4);
  tree.Pts(5);
  tree.File(tree.dev() / "pts" / "ptmx");
  tree.File(tree.root() / "outside" / "pts" / "1");
  const auto d = tree.dev();

  // Taken.
  tree.Link(d / "ttyGW0", "pts/3");               // relative
  tree.Link(d / "ttySIM1", d / "pts" / "4");      // absolute
  tree.Link(d / "gps0", "ttyUSB0");               // a port found in sysfs
  tree.Link(d / "serial" / "by-id" / "usb-x", "../../pts/5");
  tree.Link(d / "ttyCHAIN0", "serial/by-id/usb-x");  // chain inside /dev
  // Not taken.
  tree.Link(d / "stale0", "pts/9");                 // the pseudo-terminal is gone
  tree.Link(d / ".hidden0", "pts/3");               // a hidden name
  tree.Link(d / "ptmx", "pts/ptmx");                // not a numbered slave
  tree.Link(d / "ghost1", "ttyS1");                 // a ghost UART
  tree.Link(d / "rtc", "rtc0");                     // not a serial node
  tree.Link(d / "stdin", "/proc/self/fd/0");        // leaves /dev
  tree.Link(d / "escape1", "../outside/pts/1");     // leaves /dev
  tree.Link(d / "loop0", "loop1");                  // a loop
  tree.Link(d / "loop1", "loop0");
  tree.Link(tree.root() / "outside" / "back", d / "pts" / "3");
  tree.Link(d / "roundtrip0", "../outside/back");   // leaves /dev and comes back
  std::filesystem::create_directories(tree.root() / "elsewhere" / "deeper");
  tree.Link(d / "sneak", "../elsewhere/deeper");    // read as written, "sneak/.."
  tree.File(tree.root() / "elsewhere" / "pts" / "3");
  tree.Link(d / "trick0", "sneak/../pts/3");        // is /dev, but not for the system
  // A /dev node that is itself a link is listed once, as the sysfs port.
  tree.Acm("ttyACM0", "1-5", "Gateway");
  tree.Pts(6);
  tree.Link(d / "ttyACM0", "pts/6");

  const auto ports = List(tree);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& port : ports) got.emplace_back(port.name, port.description);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {"gps0", "Virtual Serial Port"},
                     {"ttyACM0", "USB Serial Device (Gateway)"},
                     {"ttyCHAIN0", "Virtual Serial Port"},
                     {"ttyGW0", "Virtual Serial Port"},
                     {"ttySIM1", "Virtual Serial Port"},
                     {"ttyUSB0", "USB Serial Port (FT232R USB UART)"},
                 }));
}

TEST(SerialPortListTest, EmptyOrMissingTreesGiveNoPorts) {
  FakeTree tree;
  EXPECT_TRUE(List(tree).empty());
  EXPECT_TRUE(ListSerialPorts((tree.root() / "no-sys").string(), (tree.root() / "no-dev").string())
                  .empty());
}

}  // namespace
