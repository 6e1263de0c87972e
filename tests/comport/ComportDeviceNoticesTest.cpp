// Device arrival and removal on the component: the handlers decide whether
// the port is registered with the device notice dispatcher, and the hook
// turns device-change messages into OnDeviceArrival / OnDeviceRemoved.
//
// The dispatcher's monitors are the system's own kind, fed by the test
// (support/DeviceNoticeFeed.h), whatever root the port asks for.
#include <gtest/gtest.h>

#include <QTest>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comport/Comport.h"
#include "framework/Application.h"
#include "framework/DeviceNotices.h"
#include "support/DeviceNoticeFeed.h"
#include "support/OtherThread.h"

namespace {

constexpr int kGenerousMs = 10000;
using TMessage = TCustomComPort::TDeviceChangeMessage;

// Handlers of one object, recording "<object> <event> <name>" and whether
// each came on the user-interface thread with the port as sender.
struct Listener {
  std::vector<std::string>* calls;
  std::string tag;
  TObject* expectedSender = nullptr;
  bool wellCalled = true;

  void Arrived(TObject* sender, const QString& name) { Record(sender, "arrived", name); }
  void Removed(TObject* sender, const QString& name) { Record(sender, "removed", name); }

 private:
  void Record(TObject* sender, const char* event, const QString& name) {
    calls->push_back(tag + " " + event + " " + name.toStdString());
    wellCalled = wellCalled && sender == expectedSender && QThread::currentThread() == Application->thread();
  }
};

class ComportDeviceNotices : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDeviceMonitorFactory([this](const std::string& root, const std::string& sysRoot) -> std::unique_ptr<platform::DeviceMonitor> {
      ++monitorsMade_;
      rootsWatched_.push_back(sysRoot + " " + root);
      if (failMonitor_) return nullptr;
      return feed_.MakeMonitor(root);
    });
  }
  void TearDown() override { SetDeviceMonitorFactory({}); }

  TDeviceArrivalEvent Arrival(Listener& l) { return TDeviceArrivalEvent(&l, &Listener::Arrived); }
  TDeviceRemovedEvent Removal(Listener& l) { return TDeviceRemovedEvent(&l, &Listener::Removed); }

  TDeviceNoticeFeed feed_;
  int monitorsMade_ = 0;
  std::vector<std::string> rootsWatched_;
  bool failMonitor_ = false;
  std::vector<std::string> calls_;
};

TEST_F(ComportDeviceNotices, TheHandlersHoldOneRegistrationWhileEitherIsSet) {
  Listener first{&calls_, "first"}, second{&calls_, "second"};
  TComPort port;
  EXPECT_EQ(RegisteredDeviceHooks(), 0);

  const struct {
    const char* what;
    std::function<void()> change;
    int hooks;
  } steps[] = {
      {"arrival set: registered", [&] { port.SetOnDeviceArrival(Arrival(first)); }, 1},
      {"removal set too: the same registration", [&] { port.SetOnDeviceRemoved(Removal(first)); }, 1},
      {"the same method of another object: nothing", [&] { port.SetOnDeviceArrival(Arrival(second)); }, 1},
      {"arrival cleared: removal keeps it", [&] { port.SetOnDeviceArrival(nullptr); }, 1},
      {"removal cleared: unregistered", [&] { port.SetOnDeviceRemoved(nullptr); }, 0},
      {"cleared again: nothing", [&] { port.SetOnDeviceRemoved(nullptr); }, 0},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(RegisteredDeviceHooks(), step.hooks);
    if (step.hooks == 1) EXPECT_TRUE(port.StartNotification());  // already registered: nothing more
    EXPECT_EQ(RegisteredDeviceHooks(), step.hooks);
  }
  EXPECT_EQ(monitorsMade_, 1);
  EXPECT_TRUE(port.StopNotification());  // nothing registered
  EXPECT_EQ(RegisteredDeviceHooks(), 0);

  // The same handler code bound to another object changes nothing at all.
  port.SetOnDeviceArrival(Arrival(first));
  port.SetOnDeviceArrival(Arrival(second));
  EXPECT_EQ(port.OnDeviceArrival().Data(), &first);
  EXPECT_EQ(RegisteredDeviceHooks(), 1);
  EXPECT_TRUE(port.StopNotification());
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
  EXPECT_TRUE(port.OnDeviceArrival());  // stopping leaves the handler
}

// A registered port given other device roots watches the new /dev root;
// one that is not registered only stores them.
TEST_F(ComportDeviceNotices, NewDeviceRootsAreWatchedFromThenOn) {
  Listener listener{&calls_, "l"};
  TComPort port;
  port.SetDeviceRoots("/sys-a", "/dev-a");
  port.SetOnDeviceArrival(Arrival(listener));
  port.SetDeviceRoots("/sys-b", "/dev-b");
  port.SetDeviceRoots("/sys-c", "/dev-b");  // the sysfs root tells the monitor which nodes are ports
  port.SetDeviceRoots("/sys-c", "/dev-b");  // the same roots: nothing to change
  EXPECT_EQ(rootsWatched_, (std::vector<std::string>{"/sys-a /dev-a", "/sys-b /dev-b", "/sys-c /dev-b"}));
  EXPECT_EQ(RegisteredDeviceHooks(), 1);
  port.SetOnDeviceArrival(nullptr);
  port.SetDeviceRoots("/sys-d", "/dev-d");
  EXPECT_EQ(rootsWatched_.size(), 3u);
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
}

TEST_F(ComportDeviceNotices, EventsFireOnTheUserInterfaceThreadWithTheNames) {
  TComPort port;
  Listener listener{&calls_, "l", &port};
  port.SetOnDeviceArrival(Arrival(listener));
  port.SetOnDeviceRemoved(Removal(listener));
  const std::string usb = TDeviceNoticeFeed::UsbInterface("1-2");

  feed_.PlugPort("ttyGW0");
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls_.size() == 1; }, kGenerousMs));
  feed_.PlugUsbSerial("ttyUSB0", "1-2");
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls_.size() == 3; }, kGenerousMs));
  feed_.PullUsbSerial("ttyUSB0", "1-2");
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls_.size() == 5; }, kGenerousMs));
  feed_.PullPort("ttyGW0");
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls_.size() == 6; }, kGenerousMs));
  EXPECT_EQ(calls_, (std::vector<std::string>{"l arrived ttyGW0", "l arrived " + usb, "l arrived ttyUSB0",
                                              "l removed ttyUSB0", "l removed " + usb, "l removed ttyGW0"}));
  EXPECT_TRUE(listener.wellCalled);
}

TEST_F(ComportDeviceNotices, TheHookFiresForArrivalAndRemovalOfPortsAndInterfacesOnly) {
  TComPort port;
  Listener listener{&calls_, "l", &port};
  const struct {
    uint32_t code, type;
    const char* name;
    const char* expected;  // empty: no event
  } cases[] = {
      {TMessage::DeviceArrival, TMessage::PortType, "ttyUSB0", "l arrived ttyUSB0"},
      {TMessage::DeviceArrival, TMessage::DeviceInterfaceType, "/sys/devices/usb1/1-2", "l arrived /sys/devices/usb1/1-2"},
      {TMessage::DeviceRemoveComplete, TMessage::PortType, "ttyGW0", "l removed ttyGW0"},
      {TMessage::DeviceRemoveComplete, TMessage::DeviceInterfaceType, "/sys/devices/usb1/1-2", "l removed /sys/devices/usb1/1-2"},
      {0x8001, TMessage::PortType, "ttyUSB0", ""},             // query remove
      {0x8003, TMessage::PortType, "ttyUSB0", ""},             // remove pending
      {0x0018, TMessage::DeviceInterfaceType, "x", ""},        // configuration changed
      {0x0007, 0, "", ""},                                     // device nodes changed
      {TMessage::DeviceArrival, 2, "sdb1", ""},                // a volume
      {TMessage::DeviceRemoveComplete, 0, "oem", ""},          // an OEM device
  };
  port.SetOnDeviceArrival(Arrival(listener));
  port.SetOnDeviceRemoved(Removal(listener));
  for (const auto& c : cases) {
    calls_.clear();
    EXPECT_FALSE(port.WindowHook({c.code, c.type, QString::fromLatin1(c.name)}));
    const std::vector<std::string> expected =
        *c.expected ? std::vector<std::string>{c.expected} : std::vector<std::string>{};
    EXPECT_EQ(calls_, expected) << std::hex << c.code << " " << c.type;
  }
  // Without handlers nothing fires, and the message still goes on.
  port.SetOnDeviceArrival(nullptr);
  port.SetOnDeviceRemoved(nullptr);
  calls_.clear();
  EXPECT_FALSE(port.WindowHook({TMessage::DeviceArrival, TMessage::PortType, "ttyUSB0"}));
  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(listener.wellCalled);
}

TEST_F(ComportDeviceNotices, ADesignTimeInstanceOnlyStoresTheHandlers) {
  Listener listener{&calls_, "l"};
  TComPort port;
  port.SetDesigning(true);
  port.SetOnDeviceArrival(Arrival(listener));
  port.SetOnDeviceRemoved(Removal(listener));
  EXPECT_TRUE(port.OnDeviceArrival());
  EXPECT_TRUE(port.OnDeviceRemoved());
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
  EXPECT_EQ(monitorsMade_, 0);
}

TEST_F(ComportDeviceNotices, AFailedRegistrationLeavesTheEventSetButSilent) {
  Listener listener{&calls_, "l"};
  TComPort port;
  failMonitor_ = true;
  port.SetOnDeviceArrival(Arrival(listener));  // raises nothing
  EXPECT_TRUE(port.OnDeviceArrival());
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
  EXPECT_FALSE(port.StartNotification());
  EXPECT_TRUE(port.StopNotification());
  failMonitor_ = false;
  EXPECT_TRUE(port.StartNotification());
  EXPECT_EQ(RegisteredDeviceHooks(), 1);
}

TEST_F(ComportDeviceNotices, APortGoingAwayUnregistersAndOthersStillHearNotices) {
  auto going = std::make_unique<TComPort>();
  TComPort staying;
  Listener goingListener{&calls_, "going", going.get()}, stayingListener{&calls_, "staying", &staying};
  going->SetOnDeviceArrival(Arrival(goingListener));
  staying.SetOnDeviceArrival(Arrival(stayingListener));
  EXPECT_EQ(RegisteredDeviceHooks(), 2);
  going.reset();
  EXPECT_EQ(RegisteredDeviceHooks(), 1);
  feed_.PlugUsbSerial("ttyUSB0", "1-2");
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls_.size() == 2; }, kGenerousMs));
  EXPECT_EQ(calls_, (std::vector<std::string>{"staying arrived " + TDeviceNoticeFeed::UsbInterface("1-2"),
                                              "staying arrived ttyUSB0"}));
  EXPECT_TRUE(stayingListener.wellCalled);
}

// Notices come on the user-interface thread, where they read the port's
// handlers: handlers set or cleared on another thread, and a port
// destroyed there, change the port and its registration there too, while
// notices keep coming.
TEST_F(ComportDeviceNotices, HandlersChangedOrThePortDestroyedOnAnotherThread) {
  LoggedMessages logged;
  auto port = std::make_unique<TComPort>();
  Listener listener{&calls_, "l", port.get()};
  port->SetOnDeviceArrival(Arrival(listener));
  int plugged = 0;
  const auto plug = [&] { feed_.PlugUsbSerial("ttyUSB" + std::to_string(plugged++), "1-2"); };
  const struct {
    const char* what;
    std::function<void()> change;
    int hooks;
  } steps[] = {
      {"cleared", [&] { port->SetOnDeviceArrival(nullptr); }, 0},
      {"set", [&] { port->SetOnDeviceRemoved(Removal(listener)); }, 1},
      {"the other set too", [&] { port->SetOnDeviceArrival(Arrival(listener)); }, 1},
      {"the port destroyed", [&] { port.reset(); }, 0},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_TRUE(RunOnAnotherThread(step.change, plug));
    EXPECT_EQ(RegisteredDeviceHooks(), step.hooks);
    if (port) {
      // The registration works: a notice reaches the handler.
      calls_.clear();
      feed_.PullUsbSerial("ttyUSB0", "1-2");
      if (step.hooks == 1) EXPECT_TRUE(QTest::qWaitFor([&] { return !calls_.empty(); }, kGenerousMs));
    }
  }
  EXPECT_TRUE(listener.wellCalled);
  EXPECT_EQ(logged.Mentioning("thread"), "");
}

TEST_F(ComportDeviceNotices, AHandlerMayClearItselfOrFreeThePort) {
  auto port = std::make_unique<TComPort>();
  TComPort* raw = port.get();
  std::vector<std::string> seen;
  raw->SetOnDeviceArrival(TDeviceArrivalEvent::Bind([&](TObject*, const QString& name) {
    seen.push_back("arrived " + name.toStdString());
    raw->SetOnDeviceArrival(nullptr);  // the removal handler keeps the registration
  }));
  raw->SetOnDeviceRemoved(TDeviceRemovedEvent::Bind([&](TObject*, const QString& name) {
    seen.push_back("removed " + name.toStdString());
    port.reset();  // the port goes from inside its own event
  }));
  const std::string usb = TDeviceNoticeFeed::UsbInterface("1-2");
  feed_.PlugUsbSerial("ttyUSB0", "1-2");  // the adapter, then its port: the second finds no handler
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, kGenerousMs));
  EXPECT_EQ(RegisteredDeviceHooks(), 1);
  feed_.PullUsbSerial("ttyUSB0", "1-2");  // the port, then the adapter: the first frees the port
  ASSERT_TRUE(QTest::qWaitFor([&] { return !port; }, kGenerousMs));
  EXPECT_EQ(seen, (std::vector<std::string>{"arrived " + usb, "removed ttyUSB0"}));
  EXPECT_EQ(RegisteredDeviceHooks(), 0);
}

}  // namespace
