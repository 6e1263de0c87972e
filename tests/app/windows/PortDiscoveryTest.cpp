// The window's port tables, sort, list lines and "USB" preselection on
// Windows, with ports the test registers as devices of the "Ports" class
// (and removes after). The system may list ports of its own besides; the
// test looks at its own.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <vector>

#include "app/PortDiscovery.h"
#include "support/WindowsPorts.h"

namespace {

using Strings = std::vector<std::string>;
using windowstest::RegisteredPortDevice;

bool Among(const Strings& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The shown lines of the ports named in 'ours', in the list's order.
QStringList OurLines(const QListWidget& list, const Strings& ours) {
  QStringList lines;
  for (int i = 0; i < list.count(); ++i)
    if (Among(ours, list.item(i)->text().section(QStringLiteral("  -  "), 0, 0).toStdString()))
      lines << list.item(i)->text();
  return lines;
}

TEST(WindowsPortDiscoveryTest, SortedByNumberWithTheirDescriptionsAndOnlyComPorts) {
  const RegisteredPortDevice ten("COM110", "USB Serial Port");
  const RegisteredPortDevice two("COM12", "Communications Port");
  const RegisteredPortDevice nine("COM19", std::nullopt);
  const RegisteredPortDevice lower("com14", "USB Serial Device");
  const RegisteredPortDevice printer("LPT3", "Printer Port");
  ASSERT_TRUE(ten.ok() && two.ok() && nine.ok() && lower.ok() && printer.ok());
  const Strings ours = {"COM110", "COM12", "COM19", "com14", "LPT3"};

  QListWidget list;
  FillComPortList(&list);
  EXPECT_EQ(OurLines(list, ours), (QStringList{"COM12  -  Communications Port", "com14  -  USB Serial Device",
                                               "COM19  -  ", "COM110  -  USB Serial Port"}));
  EXPECT_EQ(ComPortCount, list.count());
  EXPECT_FALSE(Among(ComPortNames, "LPT3"));
}

TEST(WindowsPortDiscoveryTest, TheFirstUsbPortIsPreselectedAndARemovedPortLeavesTheScan) {
  const RegisteredPortDevice builtIn("COM1", "Communications Port");
  auto adapter = std::make_unique<RegisteredPortDevice>("COM118", "usb serial port");
  const RegisteredPortDevice later("COM131", "USB Serial Port");
  ASSERT_TRUE(builtIn.ok() && adapter->ok() && later.ok());

  QListWidget list;
  FillComPortList(&list);
  SelectFirstUsbPort(&list);
  ASSERT_GE(list.currentRow(), 0);
  // The first "USB" port: the adapter, unless the system has one of its own
  // before it.
  const int adapterRow = static_cast<int>(std::find(ComPortNames.begin(), ComPortNames.end(), "COM118") -
                                          ComPortNames.begin());
  EXPECT_LE(list.currentRow(), adapterRow);

  adapter.reset();  // unplugged
  RescanComPorts();
  EXPECT_FALSE(Among(ScannedPortNames, "COM118"));
  EXPECT_TRUE(Among(ScannedPortNames, "COM131"));
  EXPECT_EQ(ScannedPortCount, ComPortCount - 1);
  EXPECT_TRUE(Among(ComPortNames, "COM118"));  // the shown list is left alone
}

}  // namespace
