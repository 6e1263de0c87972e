// The window's connection flow and gateway exchanges through its buttons:
// against the simulated gateway, and against a scripted far end on a
// pseudo-terminal where the exact bytes or a reply the simulator does not
// give matter.
//
// The port list comes from a built device tree: the gateway hangs on a USB
// serial adapter registered in the tree's sysfs, and the adapter's node in
// the tree's <dev> is a link to the far end. The window's port opens a
// listed name in that <dev>, as it opens it in /dev on a real system. The
// tests run in a working folder of their own, where a bare name must never
// open anything.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "app/Mainform.h"
#include "app/PortDiscovery.h"
#include "app/Texts.h"
#include "comport/Comport.h"
#include "platform/linux/DeviceOwner.h"
#include "platform/LastError.h"
#include "platform/PtyPair.h"
#include "framework/BoxAnswerer.h"
#include "framework/DeviceNotices.h"
#include "support/FakeTree.h"
#include "support/FakeUdevSource.h"
#include "support/GatewaySim.h"
#include "support/SpinnerClick.h"

namespace {

constexpr int kGenerousMs = 10000;
constexpr char kPortName[] = "ttyUSB1";
constexpr char kGatewayUsbPort[] = "1-1";
const QString kGatewayLine = QStringLiteral("%1  -  USB Serial Port (USB-Serial Controller)").arg(kPortName);
const QString kTimeoutText = QStringLiteral("Time out for the device to respond. Please start over again!");
const QString kOpenFailedText = QStringLiteral("Unable to open the selected COM Port. Please select again!");
const QString kGoneText = QStringLiteral(
    "The device was removed (unplugged) after the port list was made. Plug it in again and select the port anew.");

bool Shown(const BoxAnswerer& boxes, const QString& text) {
  for (const SeenBox& box : boxes.seen)
    if (box.text == text) return true;
  return false;
}

class GatewayExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    tree_.UsbSerial(kPortName, kGatewayUsbPort, "pl2303", "USB-Serial Controller");
    SetDeviceRoots(QString::fromStdString(tree_.Sys()), QString::fromStdString(tree_.Dev()));
    SetAccountRoots(QString::fromStdString(tree_.Proc()), QString::fromStdString(tree_.GroupFile()));
    workFolder_ = QString::fromStdString((tree_.root() / "work").string());
    QDir().mkpath(workFolder_);
    savedFolder_ = QDir::currentPath();
    QDir::setCurrent(workFolder_);
    FirstShow = false;
    // The window's device notices: the built /dev tree and udev messages
    // the test feeds.
    SetDeviceMonitorFactory([this](const std::string& root, const std::string& sysRoot) {
      return platform::LinuxDeviceMonitor::Create(root, std::make_unique<FakeUdevSource>(udev_), sysRoot);
    });
  }
  void TearDown() override {
    form_.reset();
    SetDeviceMonitorFactory({});
    QDir::setCurrent(savedFolder_);
    SetDeviceRoots(QStringLiteral("/sys"), QStringLiteral("/dev"));
    SetAccountRoots(QStringLiteral("/proc"), QStringLiteral("/etc/group"));
  }

  // The listed port's node, which leads to the far end.
  QString PortLink() const { return QString::fromStdString((tree_.dev() / kPortName).string()); }
  void PointPortAt(const std::string& device) {
    QFile::remove(PortLink());
    ASSERT_TRUE(QFile::link(QString::fromStdString(device), PortLink()));
  }

  // A simulator whose pseudo-terminal is what the listed name opens.
  std::unique_ptr<TGatewaySim> StartSim(QStringList options) {
    QFile::remove(PortLink());  // a killed simulator leaves its link behind
    options << QStringLiteral("--link") << PortLink();
    auto sim = std::make_unique<TGatewaySim>(options);
    EXPECT_TRUE(sim->Ready()) << options.join(' ').toStdString();
    return sim;
  }

  // The window, shown, listing 'ports' ports, with the gateway's selected.
  void CreateForm(int ports = 1) {
    form_ = std::make_unique<TMajorForm>();
    form_->show();
    ASSERT_EQ(form_->ComPortListBox->count(), ports);
    SelectGateway();
  }
  void SelectGateway() {
    const QList<QListWidgetItem*> found = form_->ComPortListBox->findItems(kGatewayLine, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    form_->ComPortListBox->setCurrentItem(found.first());
  }

  bool WaitForGains(int receive, int transmit, int talkAround) {
    return QTest::qWaitFor(
        [&] {
          return form_->ExchangeState() == CmdIdle && form_->GWReceiveInputGainUpDown->Position() == receive &&
                 form_->GWTransmitOutputGainUpDown->Position() == transmit &&
                 form_->GWTalkAroundOutputGainUpDown->Position() == talkAround;
        },
        kGenerousMs);
  }

  std::array<QString, 3> ShownGains() const {
    return {form_->GWReceiveInputGainStaticText->text(), form_->GWTransmitOutputGainStaticText->text(),
            form_->GWTalkAroundOutputGainStaticText->text()};
  }

  void ExpectClosedAfterTimeOut(const BoxAnswerer& boxes) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(boxes, kTimeoutText); }, kGenerousMs));
    const SeenBox& box = boxes.seen.last();
    EXPECT_EQ(box.text, kTimeoutText);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.owner, form_.get());
    EXPECT_FALSE(form_->PortOpened());
    EXPECT_FALSE(form_->ComPort1->Active());
    EXPECT_EQ(form_->ExchangeState(), CmdIdle);
    EXPECT_FALSE(form_->UartRespTimeoutTimer->Enabled());
    EXPECT_TRUE(form_->OpenComPortButton->isEnabled());
    EXPECT_FALSE(form_->WriteButton->isEnabled());
  }

  FakeTree tree_;
  std::shared_ptr<FakeUdevFeed> udev_ = std::make_shared<FakeUdevFeed>();
  QString workFolder_, savedFolder_;
  std::unique_ptr<TMajorForm> form_;
};

// ---- against the simulator ------------------------------------------------

TEST_F(GatewayExchangeTest, OpenShowsTheGainsAndOneStepIsWritten) {
  auto sim = StartSim({"--gains", "-3,6,0"});
  CreateForm();
  // The note is left to close itself; its time on the screen is measured
  // from inside its own message loop.
  QElapsedTimer noteShown;
  BoxAnswerer boxes([&](QMessageBox* box) {
    if (box->text() == LoadText(IDS_EXIT_QUESTION)) box->button(QMessageBox::No)->click();
    if (box->text() == LoadText(IDS_WRITE_SUCCESSFUL)) noteShown.start();
  });

  form_->OpenComPortButton->click();
  EXPECT_TRUE(form_->PortOpened());
  EXPECT_TRUE(form_->PortInUse());
  EXPECT_FALSE(form_->OpenComPortButton->isEnabled());
  EXPECT_TRUE(form_->WriteButton->isEnabled());
  ASSERT_TRUE(WaitForGains(-3, 6, 0));
  EXPECT_EQ(ShownGains(), (std::array<QString, 3>{"-3", "6", "0"}));
  // The simulator logs a command before it answers, but its log and the
  // port are read in whatever order the event loop finds them ready.
  ASSERT_TRUE(sim->WaitForCommand("AT+KVWCMD1=41"));
  EXPECT_EQ(sim->Received(), (QStringList{"AT+KVWCMD1=1", "AT+KVWCMD1=41"}));
  EXPECT_FALSE(form_->UartRespTimeoutTimer->Enabled());

  // A completed read leaves nothing to ask on exit; a user's step does.
  ClickArrow(form_->GWTransmitOutputGainUpDown, true);
  EXPECT_EQ(form_->GWTransmitOutputGainUpDown->Position(), 9);
  EXPECT_FALSE(form_->close());
  ASSERT_EQ(boxes.seen.size(), 1);
  EXPECT_EQ(boxes.seen[0].text, LoadText(IDS_EXIT_QUESTION));

  form_->WriteButton->click();
  ASSERT_TRUE(sim->WaitForCommand("AT+KVWCMD1=61,-3,9,0"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(boxes, "Write successfully."); }, kGenerousMs));
  ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, kGenerousMs));
  EXPECT_EQ(boxes.seen.last().caption, "Note");
  EXPECT_EQ(boxes.seen.last().icon, QMessageBox::Information);
  ASSERT_TRUE(noteShown.isValid());
  EXPECT_GE(noteShown.elapsed(), 1200);  // closed by its 1500 ms timer, nobody pressed OK
  EXPECT_EQ(form_->ExchangeState(), CmdIdle);
  EXPECT_FALSE(form_->UartRespTimeoutTimer->Enabled());
  EXPECT_TRUE(form_->PortOpened());

  // A completed write clears the change: the window closes unasked.
  const auto asked = boxes.seen.size();
  EXPECT_TRUE(form_->close());
  EXPECT_EQ(boxes.seen.size(), asked);
  form_->CloseComPortButton->click();
}

TEST_F(GatewayExchangeTest, NoValidReplyEndsInTheTimeOut) {
  const QStringList cases[] = {
      {"--silent"},
      {"--identity", "46186757"},
      {"--status-first"},
  };
  for (const QStringList& options : cases) {
    SCOPED_TRACE(options.join(' ').toStdString());
    auto sim = StartSim(options);
    CreateForm();
    BoxAnswerer boxes;
    QElapsedTimer clock;
    clock.start();
    form_->OpenComPortButton->click();
    ExpectClosedAfterTimeOut(boxes);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(boxes.seen.size(), 1);
    EXPECT_TRUE(form_->PortInUse());  // closed after a time-out, still the user's port
    EXPECT_EQ(sim->Received(), QStringList{"AT+KVWCMD1=1"});
  }
}

TEST_F(GatewayExchangeTest, RepliesInPiecesWithNoiseAreAccepted) {
  const QStringList cases[] = {
      {"--split"}, {"--lf"}, {"--extra"}, {"--garbage"}, {"--delay", "300"},
  };
  for (const QStringList& options : cases) {
    SCOPED_TRACE(options.join(' ').toStdString());
    auto sim = StartSim(QStringList{"--gains", "21,-24,-9"} + options);
    CreateForm();
    BoxAnswerer boxes;
    form_->OpenComPortButton->click();
    EXPECT_TRUE(WaitForGains(21, -24, -9));
    EXPECT_TRUE(boxes.seen.isEmpty());
    form_->CloseComPortButton->click();  // before the simulator goes
  }
}

TEST_F(GatewayExchangeTest, CloseDuringAnExchangeClosesAtOnceAndTheTimeOutStillComes) {
  auto sim = StartSim({"--silent"});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ASSERT_TRUE(form_->PortOpened());
  form_->CloseComPortButton->click();
  EXPECT_FALSE(form_->PortOpened());
  EXPECT_FALSE(form_->PortInUse());
  EXPECT_FALSE(form_->ComPort1->Active());
  EXPECT_TRUE(form_->UartRespTimeoutTimer->Enabled());
  EXPECT_EQ(form_->ExchangeState(), CmdIdentify);
  ExpectClosedAfterTimeOut(boxes);
}

TEST_F(GatewayExchangeTest, HangUpDuringAnExchangeLeavesTheToolWorking) {
  auto sim = StartSim({"--silent"});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ASSERT_TRUE(sim->WaitForCommand("AT+KVWCMD1=1"));
  sim->Kill();
  ExpectClosedAfterTimeOut(boxes);

  // A simulator back on the same name: the same window opens it again.
  sim = StartSim({"--gains", "3,-3,12"});
  boxes.seen.clear();
  SelectGateway();
  form_->OpenComPortButton->click();
  ASSERT_TRUE(form_->PortOpened());
  EXPECT_TRUE(WaitForGains(3, -3, 12));
  EXPECT_TRUE(boxes.seen.isEmpty());
  form_->CloseComPortButton->click();
}

// A link of the listed name in the working folder leads to another device
// that would answer with its own gains: the window opens the listed port.
TEST_F(GatewayExchangeTest, TheListedPortOpensNotAFileOfItsNameInTheWorkingFolder) {
  PtyPair impostor;
  ASSERT_TRUE(impostor.ok());
  ASSERT_TRUE(QFile::link(QString::fromStdString(impostor.path()), workFolder_ + '/' + kPortName));
  auto sim = StartSim({"--gains", "-3,6,0"});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  EXPECT_TRUE(WaitForGains(-3, 6, 0));
  EXPECT_EQ(form_->ComPort1->DeviceName(), kPortName);
  EXPECT_EQ(impostor.Receive(1, 100), "");
  EXPECT_TRUE(boxes.seen.isEmpty());
  form_->CloseComPortButton->click();
}

TEST_F(GatewayExchangeTest, ThePrefixedFormOpensWithoutAPause) {
  PtyPair far;
  ASSERT_TRUE(far.ok());
  const std::filesystem::path node = tree_.dev() / "gw" / kPortName;
  tree_.Link(node, far.path());
  CreateForm();
  BoxAnswerer boxes;
  QElapsedTimer clock;
  clock.start();
  // "gw/<name>" is a path from the working folder, where it is nothing;
  // "<dev>/gw/<name>" leads to the far end.
  EXPECT_TRUE(form_->OpenComPort("gw/" + std::string(kPortName)));
  EXPECT_LT(clock.elapsed(), 900);
  EXPECT_TRUE(form_->ComPort1->Active());
  EXPECT_EQ(form_->ComPort1->DeviceName().toStdString(), node.string());
  EXPECT_TRUE(boxes.seen.isEmpty());
  form_->CloseComPort();
}

// ---- opening fails ----------------------------------------------------------

TEST_F(GatewayExchangeTest, OpenFailureComesAfterTwoPasses) {
  CreateForm();  // the listed name leads nowhere: its node is gone
  BoxAnswerer boxes;
  QElapsedTimer clock;
  clock.start();
  form_->OpenComPortButton->click();
  EXPECT_GE(clock.elapsed(), 1900);
  ASSERT_EQ(boxes.seen.size(), 1);
  EXPECT_EQ(boxes.seen[0].text, kOpenFailedText + "\n" + kGoneText);
  EXPECT_EQ(boxes.seen[0].caption, "Error");
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.seen[0].owner, form_.get());
  EXPECT_FALSE(form_->PortOpened());
  EXPECT_FALSE(form_->PortInUse());
  EXPECT_TRUE(form_->OpenComPortButton->isEnabled());
  EXPECT_TRUE(form_->ComPortListBox->isEnabled());
  EXPECT_FALSE(form_->UartRespTimeoutTimer->Enabled());
}

TEST_F(GatewayExchangeTest, OpenWithNothingSelectedOpensNothing) {
  PtyPair far;
  ASSERT_TRUE(far.ok());
  PointPortAt(far.path());
  CreateForm();
  form_->ComPortListBox->clearSelection();
  form_->ComPortListBox->setCurrentRow(0, QItemSelectionModel::NoUpdate);  // as on gaining focus
  ASSERT_EQ(form_->ComPortListBox->currentRow(), 0);
  BoxAnswerer boxes;
  QElapsedTimer clock;
  clock.start();
  form_->OpenComPortButton->click();
  EXPECT_LT(clock.elapsed(), 900);  // no open passes at all
  ASSERT_EQ(boxes.seen.size(), 1);
  EXPECT_EQ(boxes.seen[0].text, kOpenFailedText);
  EXPECT_FALSE(form_->ComPort1->Active());
  EXPECT_FALSE(form_->PortInUse());
  EXPECT_EQ(far.Receive(1, 100), "");
}

TEST_F(GatewayExchangeTest, APortHeldByAnotherProgramNamesTheProgram) {
  PtyPair far;
  ASSERT_TRUE(far.ok());
  PointPortAt(far.path());
  const int holder = ::open(far.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  // The built process tree shows the holder as a terminal program would be.
  tree_.Process(4321, "minicom", {"/dev/null", far.path()});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ::close(holder);
  ASSERT_EQ(boxes.seen.size(), 1);
  EXPECT_EQ(boxes.seen[0].text, kOpenFailedText + "\nThe port is in use by minicom (process 4321).");
  EXPECT_FALSE(form_->PortInUse());
}

TEST_F(GatewayExchangeTest, APortWithoutPermissionGivesTheCommandThatAddsTheUser) {
  // Root may open anything, so the refusal comes from a device factory; the
  // group is read from the node that was refused, and looked up in the
  // built group database, which does not list the user.
  constexpr gid_t kPortGroup = 4242;
  tree_.Group("dialout", kPortGroup, "someoneelse");
  tree_.File(tree_.dev() / kPortName);
  ASSERT_EQ(::chown(PortLink().toLocal8Bit().constData(), 0, kPortGroup), 0);
  const QString user = QString::fromStdString(platform::CurrentIdentity().user);
  CreateForm();
  form_->ComPort1->SetDeviceFactory([](const std::string&) -> platform::SerialDevicePtr {
    platform::SetLastError(EACCES);
    return nullptr;
  });
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ASSERT_EQ(boxes.seen.size(), 1);
  EXPECT_EQ(boxes.seen[0].text,
            kOpenFailedText + QStringLiteral("\nPermission denied: the port belongs to the group 'dialout', and %1 is "
                                             "not a member of it. Add %1 to the group with this command, then log "
                                             "out and in again: sudo usermod -aG dialout %1")
                                  .arg(user));
}

// The lines under text 20104 for each cause, worded from the string table.
TEST(OpenFailureTextTest, EachCauseHasItsLines) {
  using platform::OpenFailure;
  using platform::OpenFailureKind;
  const auto permission = [](std::string group, bool member, bool session) {
    OpenFailure f;
    f.kind = OpenFailureKind::PermissionDenied;
    f.errorCode = EACCES;
    f.group = std::move(group);
    f.user = "alice";
    f.userInGroup = member;
    f.sessionHasGroup = session;
    return f;
  };
  const auto inUse = [](std::vector<platform::DeviceHolder> seen, std::vector<platform::DeviceHolder> unseen,
                        std::optional<platform::DeviceHolder> modemManager, std::optional<platform::UsbIds> adapter) {
    OpenFailure f;
    f.kind = OpenFailureKind::InUse;
    f.errorCode = EBUSY;
    f.holders = {std::move(seen), std::move(unseen)};
    f.modemManager = std::move(modemManager);
    f.adapter = std::move(adapter);
    return f;
  };
  const auto kind = [](OpenFailureKind k, int code, std::string systemText) {
    OpenFailure f;
    f.kind = k;
    f.errorCode = code;
    f.systemText = std::move(systemText);
    return f;
  };
  const QString hidden = QStringLiteral("The port is in use by a program of another user, which this session cannot see.");
  const QString modemManager = QStringLiteral("ModemManager probes serial ports that answer AT commands. ");
  const QString ruleWithIds =
      modemManager +
      "To make it leave this adapter alone, add a udev rule, for example in /etc/udev/rules.d/99-no-modem-probe.rules: "
      "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" and then run: sudo "
      "udevadm control --reload && sudo udevadm trigger";
  const QString ruleWithoutIds = modemManager +
                                 "To make it leave this adapter alone, add a udev rule with "
                                 "ENV{ID_MM_DEVICE_IGNORE}=\"1\" that matches the adapter's ATTRS{idVendor} and "
                                 "ATTRS{idProduct} (lsusb shows them).";
  const struct {
    const char* what;
    OpenFailure cause;
    QStringList lines;  // under text 20104
  } cases[] = {
      {"no failure", kind(OpenFailureKind::None, 0, ""), {}},
      {"not a member",
       permission("dialout", false, false),
       {"Permission denied: the port belongs to the group 'dialout', and alice is not a member of it. Add alice to "
        "the group with this command, then log out and in again: sudo usermod -aG dialout alice"}},
      {"member, not yet in this session",
       permission("dialout", true, false),
       {"Permission denied: alice is a member of the group 'dialout' that owns the port, but this session began "
        "before alice joined it. Log out and in again."}},
      {"member in this session",
       permission("dialout", true, true),
       {"Permission denied: this session belongs to the group 'dialout' that owns the port, but the port's "
        "permissions do not let the group open it."}},
      {"group unknown",
       permission("", false, false),
       {"Permission denied: join the group that owns the port and log in again."}},
      {"holders seen",
       inUse({{812, "minicom"}, {900, "screen"}}, {{1, "systemd"}}, std::nullopt, std::nullopt),
       {"The port is in use by minicom (process 812), screen (process 900)."}},
      {"holder hidden", inUse({}, {{1, "systemd"}}, std::nullopt, std::nullopt), {hidden}},
      {"holder gone since", inUse({}, {}, std::nullopt, std::nullopt), {"The port is in use by another program."}},
      {"modem manager holds it, adapter known",
       inUse({{577, "ModemManager"}}, {}, platform::DeviceHolder{577, "ModemManager"},
             platform::UsbIds{"0403", "6001"}),
       {"The port is in use by ModemManager (process 577).", ruleWithIds}},
      {"modem manager holds it, adapter unknown",
       inUse({{577, "ModemManager"}}, {}, platform::DeviceHolder{577, "ModemManager"}, std::nullopt),
       {"The port is in use by ModemManager (process 577).", ruleWithoutIds}},
      {"modem manager runs unseen",
       inUse({}, {{577, "ModemManager"}}, platform::DeviceHolder{577, "ModemManager"},
             platform::UsbIds{"0403", "6001"}),
       {hidden, "ModemManager (process 577) runs as another user and may be that program.", ruleWithIds}},
      {"gone", kind(OpenFailureKind::Gone, ENODEV, "No such device"), {kGoneText}},
      {"other", kind(OpenFailureKind::Other, EIO, "Input/output error"), {"Input/output error"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OpenFailureText(c.cause), (QStringList{kOpenFailedText} + c.lines).join('\n')) << c.what;
}

// ---- devices plugged in and pulled out ------------------------------------

// A technician plugs and pulls devices while the window runs. A USB adapter
// comes as udev reports it, with its tty entry appearing in (or leaving)
// the built sysfs tree; the gateway's port goes with its link in <dev>.
class DeviceChangeTest : public GatewayExchangeTest {
 protected:
  static constexpr char kAdapterLine[] = "ttyUSB0  -  USB Serial Port (FT232R USB UART)";

  void PlugAdapter() {
    tree_.UsbSerial("ttyUSB0", "1-2", "ftdi_sio", "FT232R USB UART");
    udev_->PlugUsbSerial("ttyUSB0", "1-2");
  }
  void PullAdapter() {
    std::filesystem::remove(tree_.sys() / "class" / "tty" / "ttyUSB0");
    udev_->PullUsbSerial("ttyUSB0", "1-2");
  }
  void PullGateway() {
    std::filesystem::remove(tree_.sys() / "class" / "tty" / kPortName);
    std::filesystem::remove(tree_.dev() / kPortName);
    udev_->PullUsbSerial(kPortName, kGatewayUsbPort);
  }
  // Another USB device goes; the ports stay as they are.
  void PullOtherDevice() { udev_->Push({"remove", "usb", "usb_device", "", FakeUdevFeed::UsbPath("1-9")}); }

  // Runs 'pull' and waits until the window has rescanned after it (notices
  // come in order, so everything before it has been handled too).
  bool RescannedAfter(const std::function<void()>& pull, int ports) {
    ScannedPortCount = -1;
    pull();
    return QTest::qWaitFor([&] { return ScannedPortCount == ports; }, kGenerousMs);
  }

  QStringList Lines() const {
    QStringList lines;
    for (int i = 0; i < form_->ComPortListBox->count(); ++i) lines << form_->ComPortListBox->item(i)->text();
    return lines;
  }
  QStringList SelectedLines() const {
    QStringList lines;
    for (const QListWidgetItem* item : form_->ComPortListBox->selectedItems()) lines << item->text();
    return lines;
  }

  // The window with the gateway's port open and its gains read.
  std::unique_ptr<TGatewaySim> OpenGateway(int ports = 1) {
    auto sim = StartSim({"--gains", "3,-3,12"});
    CreateForm(ports);
    form_->OpenComPortButton->click();
    EXPECT_TRUE(WaitForGains(3, -3, 12));
    return sim;
  }

  void ExpectReleased() {
    EXPECT_FALSE(form_->PortInUse());
    EXPECT_FALSE(form_->PortOpened());
    EXPECT_FALSE(form_->ComPort1->Active());
    EXPECT_TRUE(form_->OpenComPortButton->isEnabled());
    EXPECT_TRUE(form_->ComPortListBox->isEnabled());
    EXPECT_FALSE(form_->WriteButton->isEnabled());
  }
};

TEST_F(DeviceChangeTest, AnAdapterPluggedInWhileNothingIsOpenIsListedAndPreselected) {
  CreateForm();
  BoxAnswerer boxes;
  PlugAdapter();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form_->ComPortListBox->count() == 2; }, kGenerousMs));
  EXPECT_EQ(Lines(), (QStringList{kAdapterLine, kGatewayLine}));
  EXPECT_EQ(SelectedLines(), QStringList{kAdapterLine});

  // Pulled out again: the list loses it, and nothing is preselected.
  ASSERT_TRUE(RescannedAfter([&] { PullAdapter(); }, 1));
  EXPECT_EQ(Lines(), QStringList{kGatewayLine});
  EXPECT_TRUE(SelectedLines().isEmpty());
  EXPECT_TRUE(boxes.seen.isEmpty());
}

TEST_F(DeviceChangeTest, UnpluggingTheOpenPortReleasesItAndThePendingExchangeStillTimesOut) {
  auto sim = StartSim({"--silent"});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ASSERT_TRUE(sim->WaitForCommand("AT+KVWCMD1=1"));
  PullGateway();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->PortInUse(); }, kGenerousMs));
  ExpectReleased();
  EXPECT_EQ(form_->ComPortListBox->count(), 0);  // refilled
  EXPECT_EQ(form_->ExchangeState(), CmdIdentify);
  ExpectClosedAfterTimeOut(boxes);
}

TEST_F(DeviceChangeTest, AGatewayThatHungUpWithNothingPendingIsReleasedWhenItsPortGoes) {
  auto sim = OpenGateway();
  BoxAnswerer boxes;
  sim->Kill();  // the far end hangs up between exchanges
  PullGateway();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->PortInUse(); }, kGenerousMs));
  ExpectReleased();
  EXPECT_EQ(form_->ComPortListBox->count(), 0);
}

// The far end dies while its node stays (a killed simulator leaves its
// link, a cable pulled from a built-in port brings no notice at all): the
// component closes the port on the hang-up, and the window follows it as
// it follows a removal.
TEST_F(DeviceChangeTest, AHangUpWithoutRemovalReleasesThePortAtOnce) {
  const struct {
    const char* what;
    QStringList options;
    std::uint32_t pending;
  } cases[] = {
      {"nothing pending", {"--gains", "3,-3,12"}, CmdIdle},
      {"an exchange pending", {"--silent"}, CmdIdentify},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto sim = StartSim(c.options);
    CreateForm();
    BoxAnswerer boxes;
    form_->OpenComPortButton->click();
    if (c.pending == CmdIdle)
      ASSERT_TRUE(WaitForGains(3, -3, 12));
    else
      ASSERT_TRUE(sim->WaitForCommand("AT+KVWCMD1=1"));
    sim->Kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->PortInUse(); }, kGenerousMs));
    ExpectReleased();
    EXPECT_EQ(Lines(), QStringList{kGatewayLine});
    EXPECT_EQ(form_->ExchangeState(), c.pending);
    if (c.pending != CmdIdle) ExpectClosedAfterTimeOut(boxes);
    EXPECT_FALSE(form_->UartRespTimeoutTimer->Enabled());
    EXPECT_EQ(boxes.seen.size(), c.pending == CmdIdle ? 0 : 1);
  }
}

TEST_F(DeviceChangeTest, RemovingAnotherDeviceKeepsThePortOpenAndTheList) {
  tree_.Pts(1);
  tree_.Link(tree_.dev() / "ttyQLX1", "pts/1");
  auto sim = OpenGateway(2);
  BoxAnswerer boxes;
  const QStringList listed = Lines();
  const struct {
    const char* what;
    std::function<void()> pull;
    int portsLeft;
  } cases[] = {
      {"another port: fewer ports", [&] { std::filesystem::remove(tree_.dev() / "ttyQLX1"); }, 1},
      {"a USB device without a port: as many ports", [&] { PullOtherDevice(); }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(RescannedAfter(c.pull, c.portsLeft));
    EXPECT_TRUE(form_->PortOpened());
    EXPECT_TRUE(form_->PortInUse());
    EXPECT_TRUE(form_->ComPort1->Active());
    EXPECT_EQ(Lines(), listed);
  }
  form_->WriteButton->click();
  EXPECT_TRUE(sim->WaitForCommand("AT+KVWCMD1=61,3,-3,12"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(boxes, "Write successfully."); }, kGenerousMs));
  form_->CloseComPortButton->click();
}

TEST_F(DeviceChangeTest, ArrivalsWhileThePortIsInUseLeaveTheListAlone) {
  auto sim = OpenGateway();
  BoxAnswerer boxes;
  ASSERT_TRUE(RescannedAfter([&] { PlugAdapter(), PullOtherDevice(); }, 2));
  EXPECT_EQ(Lines(), QStringList{kGatewayLine});
  EXPECT_TRUE(form_->PortOpened());

  // The port in use goes while the adapter stays: as many ports as the list
  // shows, and still the port in use is gone.
  PullGateway();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->PortInUse(); }, kGenerousMs));
  ExpectReleased();
  EXPECT_EQ(Lines(), QStringList{kAdapterLine});
  EXPECT_TRUE(SelectedLines().isEmpty());
}

TEST_F(DeviceChangeTest, AfterATimeOutDeviceNoticesLeaveTheListAlone) {
  auto sim = StartSim({"--silent"});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ExpectClosedAfterTimeOut(boxes);
  ASSERT_TRUE(form_->PortInUse());
  ASSERT_TRUE(RescannedAfter([&] { PlugAdapter(), PullOtherDevice(); }, 2));
  ASSERT_TRUE(RescannedAfter([&] { PullGateway(); }, 1));
  EXPECT_EQ(Lines(), QStringList{kGatewayLine});
  EXPECT_TRUE(form_->PortInUse());
  EXPECT_TRUE(form_->OpenComPortButton->isEnabled());
}

// ---- a scripted far end ------------------------------------------------------

class ScriptedGatewayTest : public GatewayExchangeTest {
 protected:
  void SetUp() override {
    GatewayExchangeTest::SetUp();
    ASSERT_TRUE(far_.ok());
    PointPortAt(far_.path());
    CreateForm();
  }

  // The next command as sent, up to and including its CR.
  std::string NextCommand() {
    std::string command;
    while (command.empty() || command.back() != '\r') {
      const std::string byte = far_.Receive(1, kGenerousMs);
      if (byte.empty()) break;
      command += byte;
    }
    return command;
  }

  // Opens with the button and answers identify; the read command is left
  // to the test.
  void OpenAndIdentify() {
    SelectGateway();
    form_->OpenComPortButton->click();
    ASSERT_EQ(NextCommand(), "AT+KVWCMD1=1\r");
    far_.Send("OK\r\n+KVWSTS1=1,46186756,7\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->ExchangeState() == CmdReadLevels; }, kGenerousMs));
    ASSERT_EQ(NextCommand(), "AT+KVWCMD1=41\r");
  }

  PtyPair far_;
};

TEST_F(ScriptedGatewayTest, WriteSendsThePositionsAndOneCR) {
  BoxAnswerer boxes;
  OpenAndIdentify();
  far_.Send("OK\r\n+KVWSTS1=41,-3,6,0\r\n");
  ASSERT_TRUE(WaitForGains(-3, 6, 0));
  ClickArrow(form_->GWTransmitOutputGainUpDown, true);
  form_->WriteButton->click();
  EXPECT_EQ(NextCommand(), "AT+KVWCMD1=61,-3,9,0\r");
  EXPECT_EQ(far_.Receive(1, 200), "");  // nothing after the CR
  far_.Send("OK\n+KVWSTS1=61,1,2,3\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(boxes, "Write successfully."); }, kGenerousMs));
}

TEST_F(ScriptedGatewayTest, GainsOutsideTheRangeAreClampedAndWrittenAsShown) {
  BoxAnswerer boxes;
  const struct {
    const char* reply;
    int receive, transmit, talkAround;
  } cases[] = {
      {"100,-100,5", 21, -24, 5},       // outside the range: its end; off the step: as it is
      {"65539,-65542,-1", 3, -6, -1},   // 16 bits of each field
      {"", 0, 0, 0},                    // missing fields are 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    OpenAndIdentify();
    far_.Send(std::string("OK\r\n+KVWSTS1=41,") + c.reply + "\r\n");
    ASSERT_TRUE(WaitForGains(c.receive, c.transmit, c.talkAround));
    EXPECT_EQ(ShownGains(), (std::array<QString, 3>{QString::number(c.receive), QString::number(c.transmit),
                                                     QString::number(c.talkAround)}));
    form_->WriteButton->click();
    EXPECT_EQ(NextCommand(), QStringLiteral("AT+KVWCMD1=61,%1,%2,%3\r")
                                 .arg(c.receive)
                                 .arg(c.transmit)
                                 .arg(c.talkAround)
                                 .toStdString());
    form_->CloseComPortButton->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->UartRespTimeoutTimer->Enabled(); }, kGenerousMs));
  }
  EXPECT_EQ(boxes.seen.size(), 3);  // the three abandoned writes timed out
}

// More than the receive buffer holds in one write: 80 unsolicited lines,
// then the reply.
TEST_F(ScriptedGatewayTest, AReplyAfterManyUnsolicitedLinesInOneWriteIsRead) {
  BoxAnswerer boxes;
  OpenAndIdentify();
  std::string burst;
  for (int i = 0; i < 80; ++i) burst += "+KVWURC=" + std::to_string(100 + i) + "\r\n";
  far_.Send(burst + "OK\r\n+KVWSTS1=41,-6,9,3\r\n");
  EXPECT_TRUE(WaitForGains(-6, 9, 3));
  EXPECT_TRUE(boxes.seen.isEmpty());
}

// A read reply cut short before the time-out: its bytes must not join the
// next session's first reply.
TEST_F(ScriptedGatewayTest, APartialLineOfAnEarlierSessionIsDroppedAtTheNextOpen) {
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ASSERT_EQ(NextCommand(), "AT+KVWCMD1=1\r");
  far_.Send("OK\r\n+KVWSTS1=1,46186756,7\r\n+KVWSTS1=4");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form_->ExchangeState() == CmdReadLevels; }, kGenerousMs));
  ASSERT_EQ(NextCommand(), "AT+KVWCMD1=41\r");
  ExpectClosedAfterTimeOut(boxes);
  OpenAndIdentify();
  far_.Send("OK\r\n+KVWSTS1=41,3,6,9\r\n");
  EXPECT_TRUE(WaitForGains(3, 6, 9));
  EXPECT_EQ(boxes.seen.size(), 1);
}

TEST_F(ScriptedGatewayTest, WriteDuringAPendingReadKeepsTheReadsDeadline) {
  BoxAnswerer boxes;
  OpenAndIdentify();
  ASSERT_TRUE(form_->UartRespTimeoutTimer->Running());
  const int before = form_->UartRespTimeoutTimer->RemainingTime();
  form_->WriteButton->click();
  EXPECT_EQ(NextCommand(), "AT+KVWCMD1=61,0,0,0\r");
  EXPECT_LE(form_->UartRespTimeoutTimer->RemainingTime(), before);
  EXPECT_EQ(form_->ExchangeState(), CmdWriteLevels);
  // The read's reply no longer matches and is ignored.
  far_.Send("OK\r\n+KVWSTS1=41,9,9,9\r\n");
  ExpectClosedAfterTimeOut(boxes);
  EXPECT_EQ(form_->GWReceiveInputGainUpDown->Position(), 0);
}

}  // namespace
