// Attaching and detaching: which of the port's handlers each signal takes
// over, what detaching puts back, a change of Signal or ComPort while
// attached, chained indicators, ports and controls that go away, and
// attaching from a stored description.
#include <gtest/gtest.h>

#include <QFrame>
#include <QTest>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "framework/StoredDescription.h"
#include "tests/comsignal/ComsignalSupport.h"

namespace comsignaltest {
namespace {

using NotifyGetter = TNotifyEvent (TCustomComPort::*)() const;
using NotifySetter = void (TCustomComPort::*)(const TNotifyEvent&);

struct NotifyEventOfPort {
  const char* name;
  NotifyGetter get;
  NotifySetter set;
};

const NotifyEventOfPort kNotifyEvents[] = {
    {"OnBreak", &TCustomComPort::OnBreak, &TCustomComPort::SetOnBreak},
    {"OnCTSChange", &TCustomComPort::OnCTSChange, &TCustomComPort::SetOnCTSChange},
    {"OnDSRChange", &TCustomComPort::OnDSRChange, &TCustomComPort::SetOnDSRChange},
    {"OnEvent1", &TCustomComPort::OnEvent1, &TCustomComPort::SetOnEvent1},
    {"OnEvent2", &TCustomComPort::OnEvent2, &TCustomComPort::SetOnEvent2},
    {"OnPrinterError", &TCustomComPort::OnPrinterError, &TCustomComPort::SetOnPrinterError},
    {"OnRing", &TCustomComPort::OnRing, &TCustomComPort::SetOnRing},
    {"OnRLSDChange", &TCustomComPort::OnRLSDChange, &TCustomComPort::SetOnRLSDChange},
    {"OnRx80PercFull", &TCustomComPort::OnRx80PercFull, &TCustomComPort::SetOnRx80PercFull},
    {"OnRxChar", &TCustomComPort::OnRxChar, &TCustomComPort::SetOnRxChar},
    {"OnRxFlag", &TCustomComPort::OnRxFlag, &TCustomComPort::SetOnRxFlag},
    {"OnTxEmpty", &TCustomComPort::OnTxEmpty, &TCustomComPort::SetOnTxEmpty},
};

// The port owner's own handler for every event an indicator can take over.
struct OwnerHandlers {
  TOpenCloseEvent afterOpen = TOpenCloseEvent::Bind([](TCustomComPort*) {});
  TOpenCloseEvent afterClose = TOpenCloseEvent::Bind([](TCustomComPort*) {});
  TReadWriteEvent beforeWrite = TReadWriteEvent::Bind([](TObject*, const void*, int, bool) {});
  TReadWriteEvent afterWrite = TReadWriteEvent::Bind([](TObject*, const void*, int, bool) {});
  TLineErrorEvent lineError = TLineErrorEvent::Bind([](TObject*, TLineErrors) {});
  std::map<std::string, TNotifyEvent> notify;

  OwnerHandlers() {
    for (const auto& event : kNotifyEvents) notify[event.name] = TNotifyEvent::Bind([](TObject*) {});
  }

  // An owner without any handler.
  static OwnerHandlers None() {
    OwnerHandlers none;
    none.afterOpen = none.afterClose = nullptr;
    none.beforeWrite = none.afterWrite = nullptr;
    none.lineError = nullptr;
    for (auto& [name, handler] : none.notify) handler = nullptr;
    return none;
  }

  void Install(TCustomComPort& port) const {
    port.SetAfterOpen(afterOpen);
    port.SetAfterClose(afterClose);
    port.SetBeforeWrite(beforeWrite);
    port.SetAfterWrite(afterWrite);
    port.SetOnLineError(lineError);
    for (const auto& event : kNotifyEvents) (port.*event.set)(notify.at(event.name));
  }

  // The events whose handler in the port is not the owner's.
  std::set<std::string> Replaced(const TCustomComPort& port) const {
    std::set<std::string> names;
    if (!(port.AfterOpen() == afterOpen)) names.insert("AfterOpen");
    if (!(port.AfterClose() == afterClose)) names.insert("AfterClose");
    if (!(port.BeforeWrite() == beforeWrite)) names.insert("BeforeWrite");
    if (!(port.AfterWrite() == afterWrite)) names.insert("AfterWrite");
    if (!(port.OnLineError() == lineError)) names.insert("OnLineError");
    for (const auto& event : kNotifyEvents)
      if (!((port.*event.get)() == notify.at(event.name))) names.insert(event.name);
    return names;
  }
};

TEST(ComSignalAttachTest, EachSignalTakesOverItsEventsAndDetachingPutsTheOwnersBack) {
  const struct {
    TSignal signal;
    std::set<std::string> events;  // besides AfterOpen and AfterClose
  } cases[] = {
      {siNone, {}},
      {siBreak, {"OnBreak"}},
      {siRxChar, {"OnRxChar"}},
      {siTxChar, {"BeforeWrite", "AfterWrite"}},
      {siCTS, {"OnCTSChange"}},
      {siDSR, {"OnDSRChange"}},
      {siEvent1, {"OnEvent1"}},
      {siEvent2, {"OnEvent2"}},
      {siLineError, {"OnLineError"}},
      {siPrinterError, {"OnPrinterError"}},
      {siRing, {"OnRing"}},
      {siRLSD, {"OnRLSDChange"}},
      {siRx80PercFull, {"OnRx80PercFull"}},
      {siRxFlag, {"OnRxFlag"}},
      {siTxEmpty, {"OnTxEmpty"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(QMetaEnum::fromType<TSignal>().valueToKey(c.signal));
    TComPort port;
    const OwnerHandlers owner;
    owner.Install(port);
    TComSignal indicator;
    indicator.SetSignal(c.signal);
    indicator.SetComPort(&port);
    EXPECT_TRUE(indicator.Attached());
    std::set<std::string> expected = c.events;
    expected.insert({"AfterOpen", "AfterClose"});
    EXPECT_EQ(owner.Replaced(port), expected);

    indicator.SetComPort(nullptr);
    EXPECT_FALSE(indicator.Attached());
    EXPECT_EQ(owner.Replaced(port), std::set<std::string>{});
  }
}

TEST(ComSignalAttachTest, DetachingLeavesAHandlerThatReplacedTheIndicators) {
  TComPort port;
  const OwnerHandlers owner;
  owner.Install(port);
  auto indicator = std::make_unique<TComSignal>();
  indicator->SetSignal(siRxChar);
  indicator->SetComPort(&port);
  const auto replacement = TNotifyEvent::Bind([](TObject*) {});
  port.SetOnRxChar(replacement);

  indicator->SetComPort(nullptr);
  EXPECT_TRUE(port.OnRxChar() == replacement);
  EXPECT_EQ(owner.Replaced(port), std::set<std::string>{"OnRxChar"});  // the others are the owner's again

  // Destroying detaches the same way.
  owner.Install(port);
  indicator->SetComPort(&port);
  port.SetAfterClose(nullptr);
  indicator.reset();
  EXPECT_FALSE(port.AfterClose().Assigned());
  EXPECT_EQ(owner.Replaced(port), std::set<std::string>{"AfterClose"});
}

TEST(ComSignalAttachTest, ChangingTheSignalWhileAttachedMovesTheIndicatorToTheNewEvent) {
  FakePort fake;
  const OwnerHandlers owner;
  owner.Install(fake.port);
  fake.port.Open();
  fake.device->SetModemStatus(platform::MS_CTS_ON);
  TComSignal indicator;
  indicator.SetDelay(0);  // a pulse stays lit
  indicator.SetSignal(siRxChar);
  indicator.SetComPort(&fake.port);
  fake.device->Receive("x");
  ASSERT_TRUE(WaitUntil([&] { return indicator.SignalValue(); }));

  indicator.SetSignal(siCTS);
  EXPECT_EQ(owner.Replaced(fake.port), (std::set<std::string>{"AfterOpen", "AfterClose", "OnCTSChange"}));
  EXPECT_TRUE(indicator.SignalValue());  // the line, read at attaching
  fake.device->SetModemStatus(0);
  EXPECT_TRUE(WaitUntil([&] { return !indicator.SignalValue(); }));

  indicator.SetSignal(siTxChar);
  EXPECT_FALSE(indicator.SignalValue());
  EXPECT_EQ(owner.Replaced(fake.port),
            (std::set<std::string>{"AfterOpen", "AfterClose", "BeforeWrite", "AfterWrite"}));
  indicator.SetComPort(nullptr);
  EXPECT_EQ(owner.Replaced(fake.port), std::set<std::string>{});
}

// Two indicators on one event, the second attached last: whichever goes
// first, the port never calls an indicator that was destroyed or detached,
// the other keeps working and the owner's handler runs once per event.
struct ChainedIndicators {
  FakePort fake;
  int ownerCalls = 0;
  std::unique_ptr<TComSignal> first = std::make_unique<TComSignal>();
  std::unique_ptr<TComSignal> second = std::make_unique<TComSignal>();
  SignalLog firstLog, secondLog;

  const TNotifyEvent ownerRxChar = TNotifyEvent::Bind([this](TObject* sender) {
    EXPECT_EQ(sender, &fake.port);
    ++ownerCalls;
    fake.port.ReadString();
  });

  ChainedIndicators() {
    fake.port.SetOnRxChar(ownerRxChar);
    fake.port.Open();
    for (auto* indicator : {first.get(), second.get()}) {
      indicator->SetDelay(0);  // a pulse stays lit
      indicator->SetSignal(siRxChar);
      indicator->SetComPort(&fake.port);
    }
    firstLog.Attach(*first);
    secondLog.Attach(*second);
  }

  // One received-character event; the owner's handler runs exactly once
  // for it (twice would skip the count waited for).
  bool Receive() {
    const int expected = ownerCalls + 1;
    fake.device->Receive("x");
    return WaitUntil([&] { return ownerCalls == expected; });
  }
  // Puts the indicators out: a close and an open.
  void Reopen() {
    fake.port.Close();
    fake.port.Open();
  }
};

TEST(ComSignalAttachTest, ChainedIndicatorsAreDestroyedInEitherOrder) {
  for (const bool firstGoesFirst : {true, false}) {
    SCOPED_TRACE(firstGoesFirst ? "first attached goes first" : "last attached goes first");
    ChainedIndicators chain;
    ASSERT_TRUE(chain.Receive());
    EXPECT_EQ(chain.firstLog.values, std::vector<bool>{true});
    EXPECT_EQ(chain.secondLog.values, std::vector<bool>{true});

    auto& goes = firstGoesFirst ? chain.first : chain.second;
    auto& stays = firstGoesFirst ? chain.second : chain.first;
    const SignalLog& staysLog = firstGoesFirst ? chain.secondLog : chain.firstLog;
    goes.reset();
    chain.Reopen();
    ASSERT_TRUE(chain.Receive());
    EXPECT_EQ(staysLog.values, (std::vector<bool>{true, false, true}));

    stays.reset();
    ASSERT_TRUE(chain.Receive());
    chain.Reopen();
    ASSERT_TRUE(chain.Receive());
  }
}

TEST(ComSignalAttachTest, AnIndicatorDetachedUnderAnotherIsNoLongerLit) {
  ChainedIndicators chain;
  chain.first->SetComPort(nullptr);  // its handler stays saved in the second
  EXPECT_TRUE(chain.fake.port.OnRxChar().Data() == chain.second.get());
  EXPECT_EQ(chain.firstLog.values, std::vector<bool>{});
  ASSERT_TRUE(chain.Receive());
  EXPECT_EQ(chain.firstLog.values, std::vector<bool>{});
  EXPECT_EQ(chain.secondLog.values, std::vector<bool>{true});

  // The first one left the chain when it detached: the second detaching
  // puts the owner's handler back.
  chain.second->SetComPort(nullptr);
  EXPECT_TRUE(chain.fake.port.OnRxChar() == chain.ownerRxChar);
  ASSERT_TRUE(chain.Receive());
  EXPECT_EQ(chain.firstLog.values, std::vector<bool>{});
  EXPECT_EQ(chain.secondLog.values, (std::vector<bool>{true, false}));
}

// Three indicators on one event of an open port, detached in every order
// (by SetComPort or by destruction, after a change of signal has moved one
// to the top of the chain): the port ends with exactly the handlers its
// owner gave it, the event mask they make, and no event thread when they
// make none.
TEST(ComSignalAttachTest, DetachingInAnyOrderLeavesThePortAsItsOwnerMadeIt) {
  const struct {
    const char* name;
    bool ownerHandlers;
    bool ownerReplacesWhileAttached;  // OnRxChar, over the indicators
  } cases[] = {
      {"owner with every handler", true, false},
      {"owner without handlers", false, false},
      {"owner without handlers sets OnRxChar while attached", false, true},
  };
  for (const auto& c : cases) {
    std::array<int, 3> order{0, 1, 2};
    do {
      SCOPED_TRACE(testing::Message() << c.name << ", detached in the order " << order[0] << order[1] << order[2]);
      FakePort fake;
      OwnerHandlers owner = c.ownerHandlers ? OwnerHandlers() : OwnerHandlers::None();
      owner.Install(fake.port);
      fake.port.Open();
      std::array<std::unique_ptr<TComSignal>, 3> indicators;
      for (auto& indicator : indicators) {
        indicator = std::make_unique<TComSignal>();
        indicator->SetSignal(siRxChar);
        indicator->SetComPort(&fake.port);
      }
      indicators[0]->SetSignal(siRxFlag);
      indicators[0]->SetSignal(siRxChar);
      if (c.ownerReplacesWhileAttached) {
        owner.notify["OnRxChar"] = TNotifyEvent::Bind([](TObject*) {});
        fake.port.SetOnRxChar(owner.notify["OnRxChar"]);
      }

      for (const int i : order) {
        if (i == 1)
          indicators[i].reset();
        else
          indicators[i]->SetComPort(nullptr);
      }
      EXPECT_EQ(owner.Replaced(fake.port), std::set<std::string>{});
      FakePort reference;  // the owner's handlers alone
      owner.Install(reference.port);
      reference.port.Open();
      EXPECT_EQ(fake.device->Mask(), reference.device->Mask());
      if (reference.device->Mask() == 0) EXPECT_TRUE(WaitUntil([&] { return fake.device.use_count() == 2; }));
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

// How deep the calling thread's stack is: where this function's frame lies
// (the stack grows downwards, so a longer chain of calls gives a lower
// address at the same point of the same code).
[[gnu::noinline]] std::uintptr_t StackDepth() {
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// Two indicators of one port changed in turn, many times over: the calls
// the port makes go through the same number of handlers after the last
// change as after the first.
TEST(ComSignalAttachTest, ChangingTwoIndicatorsInTurnDoesNotLengthenTheChain) {
  const struct {
    const char* name;
    std::function<void(TComSignal&, TComPort&)> change;
  } changes[] = {
      {"Signal", [](TComSignal& indicator, TComPort&) {
         indicator.SetSignal(indicator.Signal() == siRxChar ? siRxFlag : siRxChar);
       }},
      {"ComPort", [](TComSignal& indicator, TComPort& port) {
         indicator.SetComPort(nullptr);
         indicator.SetComPort(&port);
       }},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    FakePort fake;
    int calls = 0;
    std::uintptr_t depth = 0;
    fake.port.SetAfterOpen(TOpenCloseEvent::Bind([&](TCustomComPort*) {
      ++calls;
      depth = StackDepth();
    }));
    TComSignal first, second;
    for (TComSignal* indicator : {&first, &second}) {
      indicator->SetSignal(siRxChar);
      indicator->SetComPort(&fake.port);
    }
    const auto changeBoth = [&] {
      c.change(first, fake.port);
      c.change(second, fake.port);
    };
    changeBoth();
    fake.port.Open();
    fake.port.Close();
    const std::uintptr_t depthAfterOneChange = depth;
    for (int i = 0; i < 500; ++i) changeBoth();
    fake.port.Open();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(depth, depthAfterOneChange);
  }
}

TEST(ComSignalAttachTest, APortOrControlThatGoesIsForgotten) {
  // On the same owner (the framework's removal notice) and elsewhere.
  for (const bool sameOwner : {true, false}) {
    SCOPED_TRACE(sameOwner ? "same owner" : "other owner");
    QWidget form;
    auto* indicator = new TComSignal(&form);
    auto* port = new TComPort(sameOwner ? static_cast<QObject*>(&form) : nullptr);
    std::unique_ptr<TComPort> ownPort(sameOwner ? nullptr : port);
    auto* control = new QFrame(sameOwner ? &form : nullptr);
    std::unique_ptr<QFrame> ownControl(sameOwner ? nullptr : control);
    port->SetDeviceFactory([](const std::string&) { return std::make_shared<FakeSerialDevice>(); });
    port->Open();
    indicator->SetSignal(siTxChar);
    indicator->SetDelay(0);
    indicator->SetControl(control);
    indicator->SetComPort(port);
    port->WriteString("x");
    ASSERT_TRUE(indicator->SignalValue());

    if (sameOwner)
      delete port;
    else
      ownPort.reset();
    EXPECT_EQ(indicator->ComPort(), nullptr);
    EXPECT_FALSE(indicator->Attached());
    EXPECT_FALSE(indicator->SignalValue());

    if (sameOwner)
      delete control;
    else
      ownControl.reset();
    EXPECT_EQ(indicator->Control(), nullptr);
    indicator->SetColorOff(255);  // recolours nothing
  }
}

TEST(ComSignalAttachTest, AnOwnerGoingTakesPortAndIndicatorInEitherOrder) {
  for (const bool portFirst : {true, false}) {
    auto form = std::make_unique<QWidget>();
    TComPort* port = nullptr;
    TComSignal* indicator = nullptr;
    if (portFirst) port = new TComPort(form.get());
    indicator = new TComSignal(form.get());
    if (!portFirst) port = new TComPort(form.get());
    port->SetDeviceFactory([](const std::string&) { return std::make_shared<FakeSerialDevice>(); });
    int ownerCalls = 0;
    port->SetAfterClose(TOpenCloseEvent::Bind([&](TCustomComPort*) { ++ownerCalls; }));
    port->Open();
    indicator->SetSignal(siRxChar);
    indicator->SetComPort(port);
    form.reset();
    EXPECT_EQ(ownerCalls, 0);  // a port going with its owner calls no handler
  }
}

TEST(ComSignalAttachTest, AStoredDescriptionWithPortAndControlAttachesAtLoaded) {
  static const bool registered = RegisterComponentClass<TComSignal>() && RegisterComponentClass<TComPort>();
  ASSERT_TRUE(registered);
  QWidget form;
  auto* panel = new QFrame(new QWidget(&form));  // anywhere among the form's widgets
  panel->setObjectName("Panel1");
  // The indicator comes first: its references are resolved once every
  // component exists, and it attaches after all were read.
  ReadComponents(&form,
                 "object ComSignal1: TComSignal\n"
                 "  ColorOff = 255\n"
                 "  ComPort = ComPort1\n"
                 "  Control = Panel1\n"
                 "  Delay = 250\n"
                 "  Signal = siRxChar\n"
                 "end\n"
                 "object ComPort1: TComPort\n"
                 "  DeviceName = 'COM7'\n"
                 "end\n");
  auto* indicator = form.findChild<TComSignal*>("ComSignal1");
  auto* port = form.findChild<TComPort*>("ComPort1");
  ASSERT_NE(indicator, nullptr);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(indicator->ComPort(), port);
  EXPECT_EQ(indicator->Control(), panel);
  EXPECT_TRUE(indicator->Attached());
  EXPECT_TRUE(port->OnRxChar().Assigned());
  EXPECT_EQ(port->OnRxChar().Data(), indicator);
  EXPECT_EQ(Background(*panel), QColor(255, 0, 0));

  // Written back: the references by name, defaults left out.
  const QString written = WriteComponent(*indicator);
  for (const char* line :
       {"  ColorOff = 255\n", "  ComPort = ComPort1\n", "  Control = Panel1\n", "  Signal = siRxChar\n"})
    EXPECT_TRUE(written.contains(line)) << written.toStdString();
  EXPECT_FALSE(written.contains("ColorOn")) << written.toStdString();
  EXPECT_FALSE(written.contains("SignalValue")) << written.toStdString();
  EXPECT_FALSE(written.contains("About")) << written.toStdString();
}

TEST(ComSignalAttachTest, NothingIsHookedWhileLoadingOrAtDesignTime) {
  TComPort port;
  TComSignal designed;
  designed.SetDesigning(true);
  designed.SetSignal(siRxChar);
  designed.SetComPort(&port);
  EXPECT_FALSE(designed.Attached());
  EXPECT_FALSE(port.OnRxChar().Assigned());
  EXPECT_FALSE(port.AfterOpen().Assigned());
}

}  // namespace
}  // namespace comsignaltest
