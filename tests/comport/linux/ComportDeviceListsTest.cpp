// The component's four device lists over a built tree: each appends after
// what the caller's list holds, merges nothing, and a tree that cannot be
// read appends nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QStringList>
#include <functional>

#include "comport/Comport.h"
#include "support/FakeTree.h"

namespace {

using Enumeration = std::function<void(const TCustomComPort&, QStringList&)>;

QStringList ToQt(const std::vector<std::string>& names) {
  QStringList list;
  for (const auto& name : names) list.append(QString::fromStdString(name));
  return list;
}

struct ListCase {
  const char* what;
  Enumeration enumerate;
  QStringList expected;  // what follows the caller's entries
};

class ComportDeviceListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
    ASSERT_TRUE(tree_.Node(tree_.dev() / "ttyUSB0", S_IFCHR));
    ASSERT_TRUE(tree_.Node(tree_.dev() / "pts" / "3", S_IFCHR));
    tree_.Link(tree_.dev() / "ttyGW0", "pts/3");
    tree_.File(tree_.dev() / "notes");
    port_.SetDeviceRoots(QString::fromStdString(tree_.Sys()), QString::fromStdString(tree_.Dev()));
  }

  std::vector<ListCase> Cases() const {
    const QStringList nodes = ToQt(FakeTree::InDirectoryOrder(tree_.dev(), {"ttyUSB0", "ttyGW0"}));
    return {
        {"EnumDevices", &TCustomComPort::EnumDevices, nodes},
        {"EnumComDevices", &TCustomComPort::EnumComDevices, {"ttyUSB0", "ttyGW0"}},
        {"EnumComDevicesFromRegistry", &TCustomComPort::EnumComDevicesFromRegistry, {"ttyUSB0"}},
        {"EnumComFriendlyNames", &TCustomComPort::EnumComFriendlyNames,
         {"USB Serial Port (FT232R USB UART) (ttyUSB0)", "Virtual Serial Port (ttyGW0)"}},
    };
  }

  FakeTree tree_;
  TComPort port_;
};

TEST_F(ComportDeviceListsTest, NamesFollowTheCallersEntriesAndNothingIsMerged) {
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.what);
    // The list already holds a name the enumeration gives again.
    const QStringList before = {"COM1", c.expected.first()};
    QStringList list = before;
    c.enumerate(port_, list);
    EXPECT_EQ(list, before + c.expected);
  }
}

TEST_F(ComportDeviceListsTest, UnreadableTreesAppendNothing) {
  port_.SetDeviceRoots(QString::fromStdString((tree_.root() / "no-sys").string()),
                       QString::fromStdString((tree_.root() / "no-dev").string()));
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.what);
    QStringList list = {"COM1"};
    c.enumerate(port_, list);
    EXPECT_EQ(list, QStringList{"COM1"});
  }
}

}  // namespace
