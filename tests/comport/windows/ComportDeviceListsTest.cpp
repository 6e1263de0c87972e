// The component's four device lists on Windows, with a port the test
// registers (and removes after): each appends after what the caller's list
// holds and merges nothing; the roots are passed over.
#include <gtest/gtest.h>

#include <QStringList>
#include <functional>

#include "comport/Comport.h"
#include "support/WindowsPorts.h"

namespace {

using Enumeration = std::function<void(const TCustomComPort&, QStringList&)>;

TEST(WindowsComportDeviceListsTest, NamesFollowTheCallersEntriesAndTheRootsArePassedOver) {
  const windowstest::RegisteredPortDevice device("COM251", "USB Serial Port", "USB Serial Port (COM251)");
  const windowstest::SerialMapEntry mapped("\\Device\\QlTest251", "COM251");
  ASSERT_TRUE(device.ok() && mapped.ok());
  const struct {
    const char* what;
    Enumeration enumerate;
    const char* ours;  // what the test added; empty: nothing of its own
  } cases[] = {
      {"EnumDevices", &TCustomComPort::EnumDevices, ""},
      {"EnumComDevices", &TCustomComPort::EnumComDevices, ""},
      {"EnumComDevicesFromRegistry", &TCustomComPort::EnumComDevicesFromRegistry, "COM251"},
      {"EnumComFriendlyNames", &TCustomComPort::EnumComFriendlyNames, "USB Serial Port (COM251)"},
  };
  TComPort port;
  TComPort elsewhere;
  elsewhere.SetDeviceRoots(QStringLiteral("C:\\no-such-tree"), QStringLiteral("C:\\no-such-folder"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QStringList fresh;
    c.enumerate(port, fresh);
    if (*c.ours) EXPECT_EQ(fresh.count(QString::fromLatin1(c.ours)), 1) << fresh.join('|').toStdString();
    // The list already holds a name the enumeration gives again.
    const QStringList before = {"COM1", QString::fromLatin1(c.ours)};
    QStringList list = before;
    c.enumerate(port, list);
    EXPECT_EQ(list, before + fresh);
    QStringList other;
    c.enumerate(elsewhere, other);
    EXPECT_EQ(other, fresh);
  }
}

}  // namespace
