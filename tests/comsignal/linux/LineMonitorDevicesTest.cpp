// The line monitor on Linux: its port list follows the devices of a built
// /sys and /dev tree, and a FIFO is neither sent nor captured to.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "LineMonitor.h"
#include "support/FakeTree.h"
#include "tests/comsignal/ComsignalSupport.h"

namespace comsignaltest {
namespace {

// The window with its port open on the slave of 'pty'.
void OpenOn(LineMonitor& window, const Pty& pty) {
  window.PortBox()->setEditText(pty.QPath());
  window.OpenOrClose();
  ASSERT_TRUE(window.Port()->Active()) << window.StatusLine()->text().toStdString();
}

// The list follows ports plugged in and removed; the open port keeps its
// entry when the system lists it no more, and nothing listed is chosen
// for a user who only clicks Open.
TEST(LineMonitorTest, ThePortListFollowsDevicesKeepsTheOpenPortAndPreselectsNothing) {
  FakeTree tree;
  tree.Uart("ttyS3", 4);
  tree.Node(tree.dev() / "ttyS3", S_IFCHR);
  Pty pty;
  LineMonitor window;
  window.Port()->SetDeviceRoots(QString::fromStdString(tree.Sys()), QString::fromStdString(tree.Dev()));
  window.RefreshPorts();
  const auto listed = [&] {
    QStringList paths;
    for (int i = 0; i < window.PortBox()->count(); ++i) paths += window.PortBox()->itemData(i).toString();
    return paths;
  };
  ASSERT_EQ(listed(), QStringList{"ttyS3"});
  EXPECT_TRUE(window.PortBox()->currentText().isEmpty());
  QTest::mouseClick(window.OpenButton(), Qt::LeftButton);
  EXPECT_FALSE(window.Port()->Active());
  EXPECT_EQ(window.StatusLine()->text(), "Choose a port or type its path.");

  using Message = TCustomComPort::TDeviceChangeMessage;
  tree.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "Adapter");
  tree.Node(tree.dev() / "ttyUSB0", S_IFCHR);
  window.Port()->WindowHook({Message::DeviceArrival, Message::PortType, "ttyUSB0"});
  EXPECT_EQ(listed(), (QStringList{"ttyS3", "ttyUSB0"}));
  EXPECT_EQ(window.StatusLine()->text(), "ttyUSB0 plugged in.");
  EXPECT_TRUE(window.PortBox()->currentText().isEmpty());

  ASSERT_NO_FATAL_FAILURE(OpenOn(window, pty));
  std::filesystem::remove_all(tree.sys() / "class" / "tty" / "ttyUSB0");
  std::filesystem::remove(tree.dev() / "ttyUSB0");
  window.Port()->WindowHook({Message::DeviceRemoveComplete, Message::PortType, "ttyUSB0"});
  EXPECT_EQ(listed(), (QStringList{"ttyS3", pty.QPath()}));
  EXPECT_EQ(window.StatusLine()->text(), "ttyUSB0 removed.");
  EXPECT_EQ(window.PortBox()->currentText(), pty.QPath());
  EXPECT_TRUE(window.Port()->Active());
}

// A FIFO is neither read for sending nor opened for capturing: either
// would block the window until another program opened its other end.
TEST(LineMonitorTest, AFifoIsNeitherSentNorCapturedTo) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  Pty pty;
  LineMonitor window;
  ASSERT_NO_FATAL_FAILURE(OpenOn(window, pty));
  const QString fifo = folder.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_FALSE(window.SendFile(fifo));
  EXPECT_FALSE(window.StartCapture(fifo));
  EXPECT_TRUE(window.StatusLine()->text().endsWith("not a regular file")) << window.StatusLine()->text().toStdString();
}

}  // namespace
}  // namespace comsignaltest
