// The window's "USB" preselection over the port tables, whatever system
// filled them.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QString>

#include "app/PortDiscovery.h"

namespace {

using Strings = std::vector<std::string>;

TEST(PortPreselectionTest, TheFirstUsbDescriptionInAnyLetterCase) {
  QListWidget list;
  struct Case {
    Strings descriptions;
    int row;  // -1: no selection
  };
  const Case cases[] = {
      {{"Communications Port", "USB Serial Port (A)", "USB Serial Device"}, 1},
      {{"Virtual Serial Port", "usb serial adapter"}, 1},
      {{"Communications Port", "Uart", "US", ""}, -1},
      {{"Bluetooth Serial Port", "Usb"}, 1},
      {{}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.descriptions));
    ComPortDescriptions = c.descriptions;
    ComPortNames.assign(c.descriptions.size(), "ttyX0");
    ComPortCount = static_cast<int>(c.descriptions.size());
    list.clear();
    for (const auto& d : c.descriptions) list.addItem(QString::fromStdString(d));
    list.setCurrentRow(0);  // a stale selection does not survive a miss
    SelectFirstUsbPort(&list);
    EXPECT_EQ(list.currentRow(), c.row);
    EXPECT_EQ(list.selectedItems().size(), c.row < 0 ? 0 : 1);
  }
}

}  // namespace
