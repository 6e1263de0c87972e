// The device notice dispatcher: one monitor per root shared by its hooks,
// every notice to every hook on the user-interface thread, registrations
// changed from inside a hook, and a failing hook. The notices come from the
// system's own kind of monitor (support/DeviceNoticeFeed.h).
#include <gtest/gtest.h>

#include <QTest>
#include <QThread>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/Application.h"
#include "framework/DeviceNotices.h"
#include "support/DeviceNoticeFeed.h"
#include "support/OtherThread.h"

namespace {

constexpr int kGenerousMs = 10000;

class DeviceNoticesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDeviceMonitorFactory([this](const std::string& root, const std::string&) -> std::unique_ptr<platform::DeviceMonitor> {
      roots_.push_back(root);
      if (failMonitor_) return nullptr;
      return feed_.MakeMonitor(root);
    });
  }
  void TearDown() override {
    SetDeviceMonitorFactory({});
    Application->OnException = nullptr;
  }

  // Records each notice's name as "<tag>:<name>", with the thread it came on.
  TDeviceNoticeHook Recorder(const std::string& tag) {
    return [this, tag](const TDeviceNotice& notice) {
      seen_.push_back(tag + ":" + notice.name);
      onUiThread_ = onUiThread_ && QThread::currentThread() == Application->thread();
    };
  }
  bool WaitForSeen(std::size_t count) {
    return QTest::qWaitFor([&] { return seen_.size() >= count; }, kGenerousMs);
  }
  void PlugTty(const std::string& name) { feed_.PlugPort(name); }

  TDeviceNoticeFeed feed_;
  QString root_ = QString::fromStdString(feed_.Root());
  std::vector<std::string> roots_;  // monitors made, by root
  bool failMonitor_ = false;
  std::vector<std::string> seen_;
  bool onUiThread_ = true;
};

TEST_F(DeviceNoticesTest, HooksOfOneRootShareItsMonitorAndSeeEveryNoticeInOrder) {
  const TDeviceNotifyHandle first = RegisterDeviceNotification(root_, Recorder("a"));
  const TDeviceNotifyHandle second = RegisterDeviceNotification(root_, Recorder("b"));
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(roots_, std::vector<std::string>{feed_.Root()});
  EXPECT_EQ(RegisteredDeviceHooks(), 2);

  PlugTty("ttyUSB0");
  PlugTty("ttyUSB1");
  ASSERT_TRUE(WaitForSeen(4));
  // Each notice reaches every hook, in the order of registration, before
  // the next notice goes out.
  EXPECT_EQ(seen_, (std::vector<std::string>{"a:ttyUSB0", "b:ttyUSB0", "a:ttyUSB1", "b:ttyUSB1"}));
  EXPECT_TRUE(onUiThread_);

  EXPECT_TRUE(UnregisterDeviceNotification(first));
  EXPECT_FALSE(UnregisterDeviceNotification(first));
  EXPECT_TRUE(UnregisterDeviceNotification(second));
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
  // The last hook closed the monitor: the next registration makes one anew.
  const TDeviceNotifyHandle again = RegisterDeviceNotification(root_, Recorder("c"));
  EXPECT_EQ(roots_.size(), 2u);
  EXPECT_TRUE(UnregisterDeviceNotification(again));
}

TEST_F(DeviceNoticesTest, AHookMayUnregisterHooksWhileNoticesAreHandedOut) {
  TDeviceNotifyHandle self = 0, other = 0;
  self = RegisterDeviceNotification(root_, [&](const TDeviceNotice& notice) {
    seen_.push_back("self:" + notice.name);
    // Both go, the monitor with them, while the notices read with this one
    // are still being handed out.
    UnregisterDeviceNotification(other);
    UnregisterDeviceNotification(self);
  });
  other = RegisterDeviceNotification(root_, Recorder("other"));
  ASSERT_NE(self, 0u);
  ASSERT_NE(other, 0u);
  PlugTty("ttyUSB0");
  PlugTty("ttyUSB1");
  ASSERT_TRUE(WaitForSeen(1));
  // A later hook of a fresh registration proves the dispatcher went on.
  const TDeviceNotifyHandle later = RegisterDeviceNotification(root_, Recorder("later"));
  PlugTty("ttyUSB2");
  ASSERT_TRUE(WaitForSeen(2));
  EXPECT_EQ(seen_, (std::vector<std::string>{"self:ttyUSB0", "later:ttyUSB2"}));
  EXPECT_EQ(RegisteredDeviceHooks(), 1);
  UnregisterDeviceNotification(later);
}

TEST_F(DeviceNoticesTest, AnExceptionInAHookIsShownAndTheOtherHooksStillRun) {
  std::vector<std::string> shown;
  Application->OnException =
      TExceptionEvent::Bind([&](TObject*, const Exception& e) { shown.push_back(e.Message()); });
  const TDeviceNotifyHandle failing =
      RegisterDeviceNotification(root_, [](const TDeviceNotice&) { throw std::runtime_error("hook failed"); });
  const TDeviceNotifyHandle next = RegisterDeviceNotification(root_, Recorder("next"));
  PlugTty("ttyUSB0");
  ASSERT_TRUE(WaitForSeen(1));
  EXPECT_EQ(seen_, std::vector<std::string>{"next:ttyUSB0"});
  EXPECT_EQ(shown, std::vector<std::string>{"hook failed"});
  UnregisterDeviceNotification(failing);
  UnregisterDeviceNotification(next);
}

// The dispatcher is the user-interface thread's: an unregistration asked
// for on another thread is carried out there, between notices, and the
// caller waits for it.
TEST_F(DeviceNoticesTest, UnregisteringOnAnotherThreadIsCarriedOutOnTheUserInterfaceThread) {
  LoggedMessages logged;
  const TDeviceNotifyHandle handle = RegisterDeviceNotification(root_, Recorder("a"));
  ASSERT_NE(handle, 0u);
  bool removed = false;
  int plugged = 0;
  ASSERT_TRUE(RunOnAnotherThread([&] { removed = UnregisterDeviceNotification(handle); },
                                 [&] { PlugTty("ttyUSB" + std::to_string(plugged++)); }));
  EXPECT_TRUE(removed);
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
  EXPECT_TRUE(onUiThread_);
  EXPECT_EQ(logged.Mentioning("thread"), "");
  // Its monitor went with it: the next registration makes one anew.
  const TDeviceNotifyHandle again = RegisterDeviceNotification(root_, Recorder("b"));
  EXPECT_EQ(roots_.size(), 2u);
  EXPECT_TRUE(UnregisterDeviceNotification(again));
}

TEST_F(DeviceNoticesTest, RegistrationFailsWithoutAMonitorOrOffTheUserInterfaceThread) {
  failMonitor_ = true;
  EXPECT_EQ(RegisterDeviceNotification(root_, Recorder("a")), 0u);
  failMonitor_ = false;
  TDeviceNotifyHandle offThread = 1;
  std::thread([&] { offThread = RegisterDeviceNotification(root_, [](const TDeviceNotice&) {}); }).join();
  EXPECT_EQ(offThread, 0u);
  EXPECT_EQ(RegisterDeviceNotification(root_, nullptr), 0u);
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
}

}  // namespace
