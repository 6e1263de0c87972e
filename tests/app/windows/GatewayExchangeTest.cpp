// The window's gateway exchanges through its buttons on Windows. The
// simulator's program cannot run beside a Windows test, so the test plays
// the gateway itself: the simulator's protocol core (gwsim::Gateway) answers
// on the far end of a pseudo-terminal that the bridge maps to a COM name,
// which the system lists and the window opens like any port. Exchanges that
// need the simulator's process (delays, unplugging its link) and the exact
// bytes of the scripted far end are tested on Linux (linux/).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Gateway.h"
#include "app/Mainform.h"
#include "app/Texts.h"
#include "comport/Comport.h"
#include "framework/BoxAnswerer.h"
#include "platform/PtyPair.h"
#include "support/SpinnerClick.h"
#include "support/WindowsPorts.h"

namespace {

constexpr int kGenerousMs = 10000;
const QString kTimeoutText = QStringLiteral("Time out for the device to respond. Please start over again!");

bool Shown(const BoxAnswerer& boxes, const QString& text) {
  for (const SeenBox& box : boxes.seen)
    if (box.text == text) return true;
  return false;
}

// The gateway on the far end of 'far': a thread of its own takes what the
// port sends, hands it to the protocol core and sends the reply lines back.
// It waits in the far end's receive (waking now and then to see whether it
// must stop), so an idle gateway costs nothing.
class GatewayOnFarEnd {
 public:
  GatewayOnFarEnd(PtyPair& farEnd, gwsim::Gains gains, gwsim::Behaviour behaviour = {})
      : far_(farEnd), gateway_(gains, behaviour), thread_([this] { Run(); }) {}
  ~GatewayOnFarEnd() { Stop(); }
  GatewayOnFarEnd(const GatewayOnFarEnd&) = delete;
  GatewayOnFarEnd& operator=(const GatewayOnFarEnd&) = delete;

  // Ends the thread; the far end is the test's again.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> Received() const {
    std::lock_guard lock(m_);
    return received_;
  }
  // Runs the event loop until 'command' has been received.
  bool WaitForCommand(const std::string& command) const {
    return QTest::qWaitFor(
        [&] {
          const std::vector<std::string> received = Received();
          return std::find(received.begin(), received.end(), command) != received.end();
        },
        kGenerousMs);
  }

 private:
  void Run() {
    while (!stop_) {
      std::string bytes = far_.Receive(1, 100);
      if (bytes.empty()) continue;
      bytes += far_.Receive(4096, 0);  // and whatever came with it
      for (const gwsim::Exchange& exchange : gateway_.Receive(bytes)) {
        {
          std::lock_guard lock(m_);
          received_.push_back(exchange.command);
        }
        for (const gwsim::ReplyLine& line : exchange.reply) far_.Send(line.wire);
      }
    }
  }

  PtyPair& far_;
  gwsim::Gateway gateway_;  // the thread's only
  mutable std::mutex m_;
  std::vector<std::string> received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class GatewayExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    FirstShow = false;
    ASSERT_TRUE(far_.ok()) << "no pseudo-terminal from the bridge";
    ASSERT_TRUE(listed_.ok()) << "the port could not be registered";
  }
  void TearDown() override { form_.reset(); }

  // The window, shown, with the far end's port selected by its name.
  void CreateForm() {
    form_ = std::make_unique<TMajorForm>();
    form_->show();
    SelectPort();
  }
  void SelectPort() {
    const QString name = QString::fromStdString(far_.name());  // as the system lists it
    QListWidgetItem* found = nullptr;
    for (int i = 0; i < form_->ComPortListBox->count(); ++i) {
      QListWidgetItem* item = form_->ComPortListBox->item(i);
      if (item->text() == name || item->text().startsWith(name + QLatin1Char(' '))) found = item;
    }
    ASSERT_NE(found, nullptr) << name.toStdString() << " is not listed";
    form_->ComPortListBox->setCurrentItem(found);
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
    EXPECT_FALSE(form_->PortOpened());
    EXPECT_FALSE(form_->ComPort1->Active());
    EXPECT_EQ(form_->ExchangeState(), CmdIdle);
    EXPECT_TRUE(form_->OpenComPortButton->isEnabled());
    EXPECT_FALSE(form_->WriteButton->isEnabled());
  }

  PtyPair far_;
  // Listed by the system as a USB adapter's port is, so the window finds it.
  windowstest::RegisteredPortDevice listed_{far_.name(), "USB Serial Port"};
  std::unique_ptr<TMajorForm> form_;
};

TEST_F(GatewayExchangeTest, OpenShowsTheGainsAndOneStepIsWritten) {
  GatewayOnFarEnd gateway(far_, {-3, 6, 0});
  CreateForm();
  BoxAnswerer boxes([&](QMessageBox* box) {
    if (box->text() == LoadText(IDS_EXIT_QUESTION)) box->button(QMessageBox::No)->click();
  });

  form_->OpenComPortButton->click();
  EXPECT_TRUE(form_->PortOpened());
  EXPECT_TRUE(form_->WriteButton->isEnabled());
  ASSERT_TRUE(WaitForGains(-3, 6, 0));
  EXPECT_EQ(ShownGains(), (std::array<QString, 3>{"-3", "6", "0"}));
  EXPECT_EQ(gateway.Received(), (std::vector<std::string>{"AT+KVWCMD1=1", "AT+KVWCMD1=41"}));
  EXPECT_FALSE(form_->UartRespTimeoutTimer->Enabled());

  ClickArrow(form_->GWTransmitOutputGainUpDown, true);
  EXPECT_EQ(form_->GWTransmitOutputGainUpDown->Position(), 9);
  form_->WriteButton->click();
  ASSERT_TRUE(gateway.WaitForCommand("AT+KVWCMD1=61,-3,9,0"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(boxes, "Write successfully."); }, kGenerousMs));
  ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, kGenerousMs));
  EXPECT_EQ(form_->ExchangeState(), CmdIdle);
  EXPECT_TRUE(form_->PortOpened());

  // A completed write clears the change: the window closes unasked.
  const auto asked = boxes.seen.size();
  EXPECT_TRUE(form_->close());
  EXPECT_EQ(boxes.seen.size(), asked);
  form_->CloseComPortButton->click();
}

TEST_F(GatewayExchangeTest, NoValidReplyEndsInTheTimeOut) {
  const struct {
    const char* name;
    gwsim::Behaviour behaviour;
  } cases[] = {
      {"silent", {.silent = true}},
      {"wrong identity", {.identity = gwsim::kGatewayIdentity + 1}},
      {"status first", {.statusFirst = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayOnFarEnd gateway(far_, {}, c.behaviour);
    CreateForm();
    BoxAnswerer boxes;
    QElapsedTimer clock;
    clock.start();
    form_->OpenComPortButton->click();
    ExpectClosedAfterTimeOut(boxes);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(boxes.seen.size(), 1);
    EXPECT_TRUE(form_->PortInUse());  // closed after a time-out, still the user's port
    EXPECT_EQ(gateway.Received(), std::vector<std::string>{"AT+KVWCMD1=1"});
    form_.reset();
  }
}

TEST_F(GatewayExchangeTest, RepliesInPiecesWithNoiseAreAccepted) {
  const struct {
    const char* name;
    gwsim::Behaviour behaviour;
  } cases[] = {
      {"bare LF", {.bareLf = true}},
      {"extra lines", {.extraLines = true}},
      {"garbage", {.garbage = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayOnFarEnd gateway(far_, {21, -24, -9}, c.behaviour);
    CreateForm();
    BoxAnswerer boxes;
    form_->OpenComPortButton->click();
    EXPECT_TRUE(WaitForGains(21, -24, -9));
    EXPECT_TRUE(boxes.seen.isEmpty());
    form_->CloseComPortButton->click();
    form_.reset();
  }
}

// The far end hangs up while the window waits for a reply: the time-out
// still comes and closes the port, and the window keeps working.
TEST_F(GatewayExchangeTest, HangUpDuringAnExchangeLeavesTheToolWorking) {
  auto gateway = std::make_unique<GatewayOnFarEnd>(far_, gwsim::Gains{}, gwsim::Behaviour{.silent = true});
  CreateForm();
  BoxAnswerer boxes;
  form_->OpenComPortButton->click();
  ASSERT_TRUE(gateway->WaitForCommand("AT+KVWCMD1=1"));
  gateway.reset();
  far_.CloseMaster();
  ExpectClosedAfterTimeOut(boxes);
  EXPECT_TRUE(form_->OpenComPortButton->isEnabled());
}

}  // namespace
