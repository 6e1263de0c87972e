// Device names on Linux: a bare name is a node in the device folder, a
// name with a '/' a path as given, and links in the working folder never
// stand in for a device.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

#include "comport/ComportTestSupport.h"

using namespace comporttest;

// A name without a '/' is a node in the device folder and never a file in
// the working folder, where a link of the same name leads to an impostor;
// a name with a '/' is a path as given. DeviceName and the log keep the
// name the user gave.
TEST(ComportOnPty, ABareNameOpensInTheDeviceFolderAPathAsGiven) {
  Pty listed, impostor;
  QTemporaryDir tree;
  const QString dev = tree.filePath("dev");
  ASSERT_TRUE(QDir(tree.path()).mkpath("dev") && QDir(tree.path()).mkpath("work/sub"));
  ASSERT_TRUE(QFile::link(listed.QPath(), dev + "/ttyFG2"));
  ASSERT_TRUE(QFile::link(impostor.QPath(), tree.filePath("work/ttyFG2")));
  ASSERT_TRUE(QFile::link(impostor.QPath(), tree.filePath("work/sub/ttyFG2")));
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(tree.filePath("work")));
  const struct {
    QString name;
    const Pty& reached;
  } cases[] = {
      {"ttyFG2", listed},
      {dev + "/ttyFG2", listed},
      {"sub/ttyFG2", impostor},  // relative, but a path
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    const QString log = tree.filePath("port.log");
    QFile::remove(log);
    TComPort port;
    port.SetDeviceRoots(tree.filePath("sys"), dev);
    port.SetDeviceName(c.name);
    port.SetLogFile(log);
    port.Open();
    port.WriteString("x");
    EXPECT_EQ(c.reached.Receive(1), "x");
    EXPECT_EQ(port.DeviceName(), c.name);
    port.Close();
    const std::vector<std::string> entries = LogEntries(log);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "Open " + c.name.toStdString()), entries.end());
  }
  QDir::setCurrent(saved);

  // Without other roots the device folder is the system's.
  TComPort port;
  for (const auto& [name, path] : {std::pair<QString, QString>{"ttyUSB0", "/dev/ttyUSB0"},
                                   {"/dev/ttyUSB0", "/dev/ttyUSB0"},
                                   {"serial/by-id/usb-x", "serial/by-id/usb-x"}}) {
    port.SetDeviceName(name);
    EXPECT_EQ(port.DevicePath().toStdString(), path.toStdString());
  }
}

