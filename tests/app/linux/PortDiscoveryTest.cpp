// The window's port tables, sort, list lines and "USB" preselection, on
// built device trees.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QString>
#include <QStringList>

#include "app/PortDiscovery.h"
#include "platform/DeviceNames.h"
#include "support/FakeTree.h"

namespace {

using Strings = std::vector<std::string>;

QStringList Lines(const QListWidget& list) {
  QStringList lines;
  for (int i = 0; i < list.count(); ++i) lines << list.item(i)->text();
  return lines;
}

class PortDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { Point(tree); }
  void TearDown() override { SetDeviceRoots(QString::fromLatin1(platform::kDefaultSysRoot), QString::fromLatin1(platform::kDefaultDevRoot)); }
  static void Point(const FakeTree& t) {
    SetDeviceRoots(QString::fromStdString(t.Sys()), QString::fromStdString(t.Dev()));
  }

  FakeTree tree;
  QListWidget list;
};

TEST_F(PortDiscoveryTest, ListSortedByLettersThenNumberWithFormattedLines) {
  tree.UsbSerial("ttyUSB10", "1-1", "ftdi_sio", "FT232R USB UART");
  tree.UsbSerial("ttyUSB2", "1-2", "cp210x", "CP2102");
  tree.UsbSerial("ttyUSB9", "1-3", "pl2303", std::nullopt);
  tree.UsbSerial("ttyusb3", "1-4", "ch341", "CH340");  // lower case, kept as stored
  tree.Uart("ttyS10", 4);
  tree.Uart("ttyS2", 4);
  tree.Tty("ttyXY0", "platform/xy", "platform", "xy-serial");  // no description

  FillComPortList(&list);

  const Strings names = {"ttyS2", "ttyS10", "ttyUSB2", "ttyusb3", "ttyUSB9", "ttyUSB10", "ttyXY0"};
  EXPECT_EQ(ComPortNames, names);
  EXPECT_EQ(ComPortDescriptions,
            (Strings{"Communications Port", "Communications Port", "USB Serial Port (CP2102)",
                     "USB Serial Port (CH340)", "USB Serial Port",
                     "USB Serial Port (FT232R USB UART)", ""}));
  EXPECT_EQ(ComPortCount, 7);
  EXPECT_EQ(Lines(list), (QStringList{
                             "ttyS2  -  Communications Port",
                             "ttyS10  -  Communications Port",
                             "ttyUSB2  -  USB Serial Port (CP2102)",
                             "ttyusb3  -  USB Serial Port (CH340)",
                             "ttyUSB9  -  USB Serial Port",
                             "ttyUSB10  -  USB Serial Port (FT232R USB UART)",
                             "ttyXY0  -  ",
                         }));
}

TEST_F(PortDiscoveryTest, NumbersCompareByValueWhateverTheirLength) {
  tree.Pts(1);
  tree.Pts(2);
  tree.Pts(3);
  tree.Link(tree.dev() / "ttyGW123456789012345678901", "pts/1");  // beyond any integer
  tree.Link(tree.dev() / "ttyGW007", "pts/2");
  tree.Link(tree.dev() / "ttyGW10", "pts/3");
  RescanComPorts();
  EXPECT_EQ(ScannedPortNames, (Strings{"ttyGW007", "ttyGW10", "ttyGW123456789012345678901"}));
}

TEST_F(PortDiscoveryTest, OnlyNamesEndingInANumberAreTaken) {
  tree.Pts(3);
  tree.Pts(4);
  tree.Link(tree.dev() / "ttyGW0", "pts/3");
  tree.Link(tree.dev() / "gateway", "pts/4");

  int count = -1;
  Strings names{"stale"}, descriptions{"stale"};
  EXPECT_TRUE(EnumerateSerialPorts(count, names, descriptions));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(names, Strings{"ttyGW0"});
  EXPECT_EQ(descriptions, Strings{"Virtual Serial Port"});
}

TEST_F(PortDiscoveryTest, NoPortGivesEmptyListWithoutSelection) {
  int count = -1;
  Strings names, descriptions;
  EXPECT_FALSE(EnumerateSerialPorts(count, names, descriptions));
  EXPECT_EQ(count, 0);

  list.addItem("old line");
  list.setCurrentRow(0);
  FillComPortList(&list);
  SelectFirstUsbPort(&list);
  EXPECT_EQ(list.count(), 0);
  EXPECT_TRUE(list.selectedItems().isEmpty());
  EXPECT_EQ(ComPortCount, 0);
  EXPECT_TRUE(ComPortNames.empty());
}

TEST_F(PortDiscoveryTest, UnpluggingTheLastAdapterEmptiesTheList) {
  FakeTree plugged;
  plugged.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
  Point(plugged);
  FillComPortList(&list);
  SelectFirstUsbPort(&list);
  ASSERT_EQ(list.currentRow(), 0);

  Point(tree);  // the same machine with the adapter gone
  FillComPortList(&list);
  EXPECT_EQ(list.count(), 0);
  EXPECT_TRUE(list.selectedItems().isEmpty());
  EXPECT_EQ(ComPortCount, 0);
  EXPECT_TRUE(ComPortNames.empty());
  EXPECT_TRUE(ComPortDescriptions.empty());
}

TEST_F(PortDiscoveryTest, RescanFillsTheScannedTablesAndLeavesTheListAlone) {
  tree.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
  FillComPortList(&list);
  list.setCurrentRow(0);

  tree.Uart("ttyS1", 4);
  tree.Acm("ttyACM3", "1-5", "Gateway");
  RescanComPorts();

  EXPECT_EQ(ScannedPortCount, 3);
  EXPECT_EQ(ScannedPortNames, (Strings{"ttyACM3", "ttyS1", "ttyUSB0"}));
  EXPECT_EQ(ScannedPortDescriptions,
            (Strings{"USB Serial Device (Gateway)", "Communications Port",
                     "USB Serial Port (FT232R USB UART)"}));
  EXPECT_EQ(ComPortCount, 1);
  EXPECT_EQ(ComPortNames, Strings{"ttyUSB0"});
  EXPECT_EQ(Lines(list), QStringList{"ttyUSB0  -  USB Serial Port (FT232R USB UART)"});
  EXPECT_EQ(list.currentRow(), 0);

  FakeTree empty;  // nothing left: the scanned tables empty out too
  Point(empty);
  RescanComPorts();
  EXPECT_EQ(ScannedPortCount, 0);
  EXPECT_TRUE(ScannedPortNames.empty());
}

TEST_F(PortDiscoveryTest, BuiltInPortAndTwoAdaptersPreselectTheLowerNumberedAdapter) {
  tree.Uart("ttyS0", 4);
  tree.UsbSerial("ttyUSB11", "1-1", "ftdi_sio", "FT232R USB UART");
  tree.UsbSerial("ttyUSB4", "1-2", "cp210x", "CP2102");
  FillComPortList(&list);
  SelectFirstUsbPort(&list);
  EXPECT_EQ(list.currentRow(), 1);
  ASSERT_EQ(list.selectedItems().size(), 1);
  EXPECT_EQ(list.selectedItems()[0]->text(), "ttyUSB4  -  USB Serial Port (CP2102)");
}

}  // namespace
