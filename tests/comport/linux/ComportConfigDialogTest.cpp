// The configuration dialogs of the component on Linux, where the component
// shows its own dialog and keeps its own store of defaults: the dialog is
// answered by a helper, the device is a pseudo-terminal, and the per-user
// store is a temporary folder.
#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <functional>
#include <memory>
#include <optional>

#include "comport/ComportTestSupport.h"
#include "framework/StoredDescription.h"
#include "platform/CommConfig.h"
#include "support/DialogAnswerer.h"
#include "support/FakeTree.h"
#include "support/OtherThread.h"

using namespace comporttest;
using platform::DCB;

namespace {

using Fields = std::vector<std::pair<const char*, QString>>;

class ComportConfigDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.isValid());
    savedXdg = qgetenv("XDG_CONFIG_HOME");
    hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", store.path().toLocal8Bit());
    port.SetDeviceName(pty.QPath());
  }
  void TearDown() override {
    if (hadXdg)
      qputenv("XDG_CONFIG_HOME", savedXdg);
    else
      qunsetenv("XDG_CONFIG_HOME");
  }

  std::string Name() const { return QFile::encodeName(port.DeviceName()).toStdString(); }
  // The device's default configuration as the platform reads it now.
  DCB StoredDefault() const {
    platform::COMMCONFIG config;
    uint32_t size = platform::kCommConfigSize;
    EXPECT_TRUE(platform::GetDefaultCommConfig(Name(), config, size));
    return config.dcb;
  }
  void StoreDefault(const DCB& dcb) const {
    platform::COMMCONFIG config = platform::BuiltInCommConfig();
    config.dcb = dcb;
    ASSERT_TRUE(platform::SetDefaultCommConfig(Name(), config, platform::kCommConfigSize));
  }
  // Every file in the store with its content.
  QStringList StoreContents() const {
    QStringList contents;
    QDir folder(store.path() + "/comport/defaults");
    for (const QString& file : folder.entryList(QDir::Files, QDir::Name)) {
      QFile f(folder.filePath(file));
      f.open(QIODevice::ReadOnly);
      contents << file + ":" + QString::fromLatin1(f.readAll());
    }
    return contents;
  }

  QTemporaryDir store;
  QByteArray savedXdg;
  bool hadXdg = false;
  Pty pty;
  TComPort port;
};

std::string Description(const TComPort& port) { return WriteComponent(port).toStdString(); }

// After a confirmed dialog the settings are what reading the dialog's block
// back makes of them: the rate through SetCustomBaudRate, no parity, one
// stop bit, raised lines and no XON/XOFF as the default members. The dialog
// opens with the component's settings where they are set and the device's
// default elsewhere.
TEST_F(ComportConfigDialog, ConfirmedTheSettingsAreTheDialogsBlockReadBack) {
  DCB stored = platform::BuiltInCommConfig().dcb;
  stored.BaudRate = 4800;
  stored.ByteSize = 7;
  stored.Parity = 2;
  stored.StopBits = 2;
  stored.Flags |= platform::fOutX | platform::fInX;
  struct Case {
    const char* what;
    std::optional<DCB> storedDefault;
    std::function<void(TComPort&)> settings;
    SeenDialog shown;
    Fields edits;
    std::function<void(TComPort&)> expected;  // on a fresh port
  };
  const Case cases[] = {
      {"all defaults, confirmed unchanged", std::nullopt, [](TComPort&) {},
       {"", "9600", "8", "None", "1", "None"}, {},
       [](TComPort& p) {
         p.SetCustomBaudRate(9600);
         p.SetDataBits(db8);
         p.FlowControl()->SetDTRControl(dcEnable);
         p.FlowControl()->SetRTSControl(rcEnable);
       }},
      {"every offered field edited", std::nullopt,
       [](TComPort& p) {
         p.SetBaudRate(br19200);
         p.SetDataBits(db7);
         p.SetParity(paEven);
         p.SetStopBits(sb2);
         p.FlowControl()->SetXOnXOffControl(xcInputOutput);
         p.SetOptions(opCheckParity);
       },
       {"", "19200", "7", "Even", "2", "XON/XOFF"},
       {{"baudRate", "250000"}, {"dataBits", "8"}, {"parity", "None"}, {"stopBits", "1"},
        {"flowControl", "Hardware (RTS/CTS)"}},
       [](TComPort& p) {
         p.SetCustomBaudRate(250000);
         p.SetDataBits(db8);
         p.SetOptions(TOptions(opCheckParity) | opOutputCTSFlow);
         p.FlowControl()->SetDTRControl(dcEnable);
         p.FlowControl()->SetRTSControl(rcHandshake);
       }},
      {"a listed rate comes back as a custom rate", std::nullopt,
       [](TComPort& p) { p.SetBaudRate(br115200); },
       {"", "115200", "8", "None", "1", "None"}, {{"parity", "Space"}, {"stopBits", "1.5"}},
       [](TComPort& p) {
         p.SetCustomBaudRate(115200);
         p.SetDataBits(db8);
         p.SetParity(paSpace);
         p.SetStopBits(sb1_5);
         p.FlowControl()->SetDTRControl(dcEnable);
         p.FlowControl()->SetRTSControl(rcEnable);
       }},
      {"the stored default fills what the component leaves", stored,
       [](TComPort& p) {
         p.SetBaudRate(br57600);
         p.Characters()->SetXOn(1);
         p.Characters()->SetXOff(2);
       },
       {"", "57600", "7", "Even", "2", "XON/XOFF"}, {},
       [](TComPort& p) {
         p.SetCustomBaudRate(57600);
         p.SetDataBits(db7);
         p.SetParity(paEven);
         p.SetStopBits(sb2);
         p.Characters()->SetXOn(1);
         p.Characters()->SetXOff(2);
         p.FlowControl()->SetDTRControl(dcEnable);
         p.FlowControl()->SetRTSControl(rcEnable);
         p.FlowControl()->SetXOnXOffControl(xcInputOutput);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TComPort subject;
    subject.SetDeviceName(pty.QPath());
    if (c.storedDefault) StoreDefault(*c.storedDefault);
    c.settings(subject);
    const QStringList storeBefore = StoreContents();

    DialogAnswerer answerer(DialogAnswerer::Answer(c.edits));
    EXPECT_TRUE(subject.ConfigDialog());
    ASSERT_EQ(answerer.seen.size(), 1);
    const SeenDialog& seen = answerer.seen[0];
    EXPECT_EQ(seen.title, "Settings of " + port.ShortDeviceName());
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_EQ(seen.baudRate, c.shown.baudRate);
    EXPECT_EQ(seen.dataBits, c.shown.dataBits);
    EXPECT_EQ(seen.parity, c.shown.parity);
    EXPECT_EQ(seen.stopBits, c.shown.stopBits);
    EXPECT_EQ(seen.flowControl, c.shown.flowControl);

    TComPort expected;
    expected.SetDeviceName(pty.QPath());
    c.expected(expected);
    EXPECT_EQ(Description(subject), Description(expected));
    EXPECT_FALSE(subject.Active());
    EXPECT_EQ(StoreContents(), storeBefore);  // the default is not touched
  }
}

// The edited settings are applied once the whole block is read back:
// here no setter on the way applies anything (the rate is the stored
// custom rate already), so only that final apply changes the device.
TEST_F(ComportConfigDialog, ConfirmedOnAnOpenPortTheDeviceChangesAtOnce) {
  port.SetCustomBaudRate(57600);
  port.Open();
  ASSERT_FALSE(ReadTerminal(pty.Slave()).twoStopBits);
  {
    DialogAnswerer answerer(DialogAnswerer::Answer({{"stopBits", "2"}}));
    EXPECT_TRUE(port.ConfigDialog());
  }
  EXPECT_EQ(port.StopBits(), sb2);
  EXPECT_TRUE(ReadTerminal(pty.Slave()).twoStopBits);
  EXPECT_EQ(ReadTerminal(pty.Slave()).outputSpeed, 57600u);

  DialogAnswerer answerer(DialogAnswerer::Answer({{"baudRate", "250000"}}));
  EXPECT_TRUE(port.ConfigDialog());
  EXPECT_EQ(port.CustomBaudRate(), 250000);
  EXPECT_EQ(ReadTerminal(pty.Slave()).outputSpeed, 250000u);
}

// A rate chosen in the dialog that equals the stored custom rate while a
// listed rate is selected still becomes the rate in effect.
TEST_F(ComportConfigDialog, AConfirmedRateEqualToTheStoredCustomRateTakesEffect) {
  port.SetCustomBaudRate(250000);
  port.SetBaudRate(br9600);
  DialogAnswerer answerer(DialogAnswerer::Answer({{"baudRate", "250000"}}));
  EXPECT_TRUE(port.ConfigDialog());
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 250000);
}

// Cancelled after every field was changed: nothing changes, neither the
// settings nor an open device nor the stored default.
TEST_F(ComportConfigDialog, CancelledNothingChanges) {
  port.SetBaudRate(br19200);
  port.SetStopBits(sb2);
  port.Open();
  const Fields edits = {{"baudRate", "300"},
                        {"dataBits", "5"},
                        {"parity", "Odd"},
                        {"stopBits", "1"},
                        {"flowControl", "XON/XOFF"}};
  const std::string settings = Description(port);
  const TerminalAttributes terminal = ReadTerminal(pty.Slave());
  for (const auto& dialog : {&TCustomComPort::ConfigDialog, &TCustomComPort::DefaultConfigDialog}) {
    DialogAnswerer answerer(DialogAnswerer::Answer(edits, false));
    EXPECT_FALSE((port.*dialog)());
    EXPECT_EQ(answerer.seen.size(), 1);
    EXPECT_EQ(Description(port), settings);
    EXPECT_EQ(ReadTerminal(pty.Slave()).outputSpeed, terminal.outputSpeed);
    EXPECT_EQ(ReadTerminal(pty.Slave()).twoStopBits, terminal.twoStopBits);
    EXPECT_TRUE(StoreContents().isEmpty());
  }
}

// The default dialog shows the stored default, not the component's
// settings, stores what was confirmed, and leaves the component and its
// open device alone.
TEST_F(ComportConfigDialog, DefaultDialogStoresTheDefaultAndLeavesThePortAlone) {
  port.SetBaudRate(br115200);
  port.SetParity(paEven);
  port.Open();
  const std::string settings = Description(port);
  const TerminalAttributes terminal = ReadTerminal(pty.Slave());
  const DCB before = StoredDefault();
  {
    DialogAnswerer answerer(DialogAnswerer::Answer(
        {{"baudRate", "38400"}, {"parity", "Odd"}, {"stopBits", "2"}, {"flowControl", "Hardware (RTS/CTS)"}}));
    EXPECT_TRUE(port.DefaultConfigDialog());
    ASSERT_EQ(answerer.seen.size(), 1);
    EXPECT_EQ(answerer.seen[0].baudRate, "9600");
    EXPECT_EQ(answerer.seen[0].parity, "None");
  }
  DCB expected = before;
  expected.BaudRate = 38400;
  expected.Parity = 1;
  expected.StopBits = 2;
  expected.Flags = (expected.Flags & ~platform::fRtsControlMask) | platform::fOutxCtsFlow |
                   platform::RTS_CONTROL_HANDSHAKE;
  const DCB after = StoredDefault();
  EXPECT_EQ(std::memcmp(&after, &expected, sizeof(DCB)), 0);
  EXPECT_EQ(Description(port), settings);
  EXPECT_EQ(ReadTerminal(pty.Slave()).outputSpeed, terminal.outputSpeed);

  // The next dialog opens on the stored default.
  DialogAnswerer again;
  EXPECT_FALSE(port.DefaultConfigDialog());
  ASSERT_EQ(again.seen.size(), 1);
  EXPECT_EQ(again.seen[0].baudRate, "38400");
  EXPECT_EQ(again.seen[0].flowControl, "Hardware (RTS/CTS)");
}

// Asked for on another thread, the dialog shows on the user-interface
// thread (widgets live there only) while the caller waits for its answer.
TEST_F(ComportConfigDialog, AskedForOnAnotherThreadTheDialogShowsOnTheUserInterfaceThread) {
  LoggedMessages logged;
  for (const auto& dialog : {&TCustomComPort::ConfigDialog, &TCustomComPort::DefaultConfigDialog}) {
    DialogAnswerer answerer(DialogAnswerer::Answer({{"stopBits", "2"}}));
    bool confirmed = false;
    ASSERT_TRUE(RunOnAnotherThread([&] { confirmed = (port.*dialog)(); }));
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(answerer.seen.size(), 1);
  }
  EXPECT_EQ(port.StopBits(), sb2);
  EXPECT_EQ(StoredDefault().StopBits, 2);
  EXPECT_EQ(logged.Mentioning("thread"), "");
}

// A port may name its device by any path, or by its name in the port's
// device folder (SetDeviceRoots); every name of one device opens the
// dialog on that device's one default.
TEST_F(ComportConfigDialog, AnyNameOfTheDeviceOpensTheDialogOnItsOneDefault) {
  FakeTree tree;
  tree.Link(tree.dev() / "ttyGW0", pty.Path());
  tree.Link(tree.dev() / "serial" / "by-id" / "usb-gateway", "../../ttyGW0");
  tree.Link(tree.root() / "elsewhere" / "gateway", pty.Path());
  const auto portNamed = [&](const std::string& name) {
    auto named = std::make_unique<TComPort>();
    named->SetDeviceRoots(QString::fromStdString(tree.Sys()), QString::fromStdString(tree.Dev()));
    named->SetDeviceName(QString::fromStdString(name));
    return named;
  };
  {
    DialogAnswerer answerer(DialogAnswerer::Answer({{"dataBits", "7"}}));
    EXPECT_TRUE(portNamed("ttyGW0")->DefaultConfigDialog());
    EXPECT_EQ(answerer.seen.size(), 1);
  }
  {
    DialogAnswerer answerer;
    EXPECT_FALSE(portNamed(tree.Dev() + "/serial/by-id/usb-gateway")->DefaultConfigDialog());
    ASSERT_EQ(answerer.seen.size(), 1);
    EXPECT_EQ(answerer.seen[0].dataBits, "7");
  }
  // Opened through a link outside any device folder.
  const auto opened = portNamed((tree.root() / "elsewhere" / "gateway").string());
  opened->Open();
  DialogAnswerer answerer(DialogAnswerer::Answer({{"stopBits", "2"}}));
  EXPECT_TRUE(opened->ConfigDialog());
  ASSERT_EQ(answerer.seen.size(), 1);
  EXPECT_EQ(answerer.seen[0].dataBits, "7");
  EXPECT_EQ(opened->DataBits(), db7);
  EXPECT_TRUE(ReadTerminal(pty.Slave()).twoStopBits);
}

// A device whose default cannot be read raises before any dialog shows.
TEST_F(ComportConfigDialog, AnUnreadableDefaultRaisesBeforeAnyDialog) {
  struct Case {
    QString deviceName;
    int error;
  };
  const Case cases[] = {
      {"/dev/ttyNoSuchDevice7", ENOENT},  // no such device node
      {"ttyNoSuchDevice7", ENOENT},       // nor by its name in the device folder
      {store.path(), ENOTTY},             // a folder
      {"/dev/null", ENOTTY},              // a device, but no terminal
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deviceName.toStdString());
    port.SetDeviceName(c.deviceName);
    for (const auto& dialog : {&TCustomComPort::ConfigDialog, &TCustomComPort::DefaultConfigDialog}) {
      DialogAnswerer answerer;
      const EComError e = CatchComError([&] { (port.*dialog)(); });
      EXPECT_EQ(e.ComErrorCode, c.error);
      EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(c.error));
      EXPECT_TRUE(answerer.seen.isEmpty());
    }
  }
  EXPECT_TRUE(StoreContents().isEmpty());
}

}  // namespace
