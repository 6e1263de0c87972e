// The event thread and the dispatch of line events: which handlers start
// and stop the thread, the order of a batch, line errors, errors of
// handlers and of the wait, closing from a handler, and batches that are
// still queued when the port closes or goes away. On the device double and
// on pseudo-terminals whose far end the test holds.
#include <QDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ComportTestSupport.h"
#include "framework/Application.h"
#include "platform/LastError.h"

using namespace comporttest;

namespace {

// Handler targets with real methods, for the same-code rule.
struct Listener {
  std::vector<std::string>* calls;
  std::string name;
  void Notify(TObject*) { calls->push_back(name); }
};

TNotifyEvent Recording(std::vector<std::string>& calls, const std::string& name) {
  return TNotifyEvent::Bind([&calls, name](TObject*) { calls.push_back(name); });
}

// The thread holds a reference to the device while it lives; only the
// test's and the port's remain once it has freed itself.
bool ThreadGone(const std::shared_ptr<FakeSerialDevice>& device, long others) {
  return WaitUntil([&] { return device.use_count() == others; });
}

}  // namespace

TEST(ComportEvents, HandlersStartAndStopTheThreadOfAnOpenPort) {
  std::vector<std::string> calls;
  FakePort f;
  f.port.Open();
  EXPECT_EQ(f.device->Mask(), 0u);
  EXPECT_FALSE(f.device->Waiting());

  f.port.SetOnRxChar(Recording(calls, "rx"));
  EXPECT_EQ(f.device->Mask(), platform::EV_RXCHAR);
  f.device->AwaitWaiter();
  f.port.SetThreadPriority(tpLowest);  // reaches the running thread without error

  f.device->Receive("a");
  ASSERT_TRUE(WaitUntil([&] { return calls.size() == 1; }));

  f.device->AwaitWaiter();  // back in its wait
  f.port.SetOnRxChar(nullptr);
  EXPECT_EQ(f.device->Mask(), 0u);
  EXPECT_TRUE(ThreadGone(f.device, 2));
  f.device->Receive("b");
  QCoreApplication::processEvents();
  EXPECT_EQ(calls.size(), 1u);
}

TEST(ComportEvents, HandlersSetWhileClosedApplyAtOpen) {
  FakePort f;
  f.port.SetOnRxChar(TNotifyEvent::Bind([](TObject*) {}));
  f.port.SetOnTxEmpty(TNotifyEvent::Bind([](TObject*) {}));
  f.port.SetOnLineError(TLineErrorEvent::Bind([](TObject*, TLineErrors) {}));
  EXPECT_EQ(f.device, nullptr);
  f.port.Open();
  EXPECT_EQ(f.device->Mask(), platform::EV_RXCHAR | platform::EV_TXEMPTY | platform::EV_ERR);
  f.device->AwaitWaiter();
  auto device = f.device;
  f.port.Close();
  EXPECT_TRUE(ThreadGone(device, 2));  // the test's two references
}

TEST(ComportEvents, TheSameMethodOnAnotherObjectKeepsTheFirstBinding) {
  std::vector<std::string> calls;
  Listener first{&calls, "first"};
  Listener second{&calls, "second"};
  FakePort f;
  f.port.SetOnRxChar(TNotifyEvent(&first, &Listener::Notify));
  f.port.SetOnRxChar(TNotifyEvent(&second, &Listener::Notify));
  EXPECT_EQ(f.port.OnRxChar().Data(), &first);
  f.port.Open();
  f.device->Receive("x");
  ASSERT_TRUE(WaitUntil([&] { return !calls.empty(); }));
  EXPECT_EQ(calls, std::vector<std::string>{"first"});
}

TEST(ComportEvents, ABatchRunsItsHandlersInTheDriversOrderWithTheirLogLines) {
  QTemporaryDir dir;
  const QString log = dir.filePath("port.log");
  std::vector<std::string> calls;
  FakePort f;
  f.port.SetOnBreak(Recording(calls, "Break"));
  f.port.SetOnCTSChange(Recording(calls, "CTSChange"));
  f.port.SetOnDSRChange(Recording(calls, "DSRChange"));
  f.port.SetOnLineError(TLineErrorEvent::Bind([&](TObject*, TLineErrors) { calls.push_back("LineError"); }));
  f.port.SetOnEvent1(Recording(calls, "Event1"));
  f.port.SetOnEvent2(Recording(calls, "Event2"));
  f.port.SetOnPrinterError(Recording(calls, "PrinterError"));
  f.port.SetOnRing(Recording(calls, "Ring"));
  f.port.SetOnRLSDChange(Recording(calls, "RLSDChange"));
  f.port.SetOnRx80PercFull(Recording(calls, "Rx80PercFull"));
  f.port.SetOnRxChar(Recording(calls, "RxChar"));
  f.port.SetOnRxFlag(Recording(calls, "RxFlag"));
  f.port.SetOnTxEmpty(Recording(calls, "TxEmpty"));
  f.port.Open();
  EXPECT_EQ(f.device->Mask(), 0x1FFFu);
  f.port.SetLogFile(log);

  // Every bit in one wait; the line-error bit comes with an empty error
  // word, so its line is written but its handler is not called.
  f.device->AwaitWaiter();
  f.device->RaiseEvents(0x1FFF);
  ASSERT_TRUE(WaitUntil([&] { return calls.size() == 12; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"Break", "CTSChange", "DSRChange", "Event1", "Event2", "PrinterError",
                                             "Ring", "RLSDChange", "Rx80PercFull", "RxChar", "RxFlag", "TxEmpty"}));
  EXPECT_EQ(LogEntries(log), (std::vector<std::string>{
                                 "Break event", "CTSChange event", "DSRChange event", "LineError event", "Event1 event",
                                 "Event2 event", "PrinterError event", "Ring event", "RLSDChange event",
                                 "Rx80PercFull event", "RxChar event", "RxFlag event", "TxEmpty event"}));
}

TEST(ComportEvents, DriverEventsReachTheirHandlers) {
  struct Case {
    const char* name;
    void (TCustomComPort::*setter)(const TNotifyEvent&);
    std::function<void(FakeSerialDevice&)> script;
  };
  const Case cases[] = {
      {"break", &TCustomComPort::SetOnBreak, [](FakeSerialDevice& d) { d.AddLineErrors(platform::CE_BREAK); }},
      {"CTS", &TCustomComPort::SetOnCTSChange, [](FakeSerialDevice& d) { d.SetModemStatus(platform::MS_CTS_ON); }},
      {"DSR", &TCustomComPort::SetOnDSRChange, [](FakeSerialDevice& d) { d.SetModemStatus(platform::MS_DSR_ON); }},
      {"ring", &TCustomComPort::SetOnRing, [](FakeSerialDevice& d) { d.SetModemStatus(platform::MS_RING_ON); }},
      {"carrier", &TCustomComPort::SetOnRLSDChange,
       [](FakeSerialDevice& d) { d.SetModemStatus(platform::MS_RLSD_ON); }},
      {"event character", &TCustomComPort::SetOnRxFlag, [](FakeSerialDevice& d) { d.Receive("ab\n"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    FakePort f;
    f.port.Characters()->SetEvent('\n');
    (f.port.*c.setter)(TNotifyEvent::Bind([&](TObject*) { ++calls; }));
    f.port.Open();
    f.device->AwaitWaiter();
    c.script(*f.device);
    EXPECT_TRUE(WaitUntil([&] { return calls == 1; }));
  }
}

TEST(ComportEvents, LineErrorsReachOnLineErrorOnceAsTheirSet) {
  std::vector<TLineErrors> reported;
  FakePort f;
  f.port.SetOnLineError(TLineErrorEvent::Bind([&](TObject*, TLineErrors e) { reported.push_back(e); }));
  f.port.Open();
  f.device->AwaitWaiter();
  f.device->AddLineErrors(platform::CE_FRAME | platform::CE_OVERRUN);
  ASSERT_TRUE(WaitUntil([&] { return reported.size() == 1; }));
  EXPECT_EQ(reported[0], TLineErrors(leFrame | leOverrun));
  f.port.CheckLineErrors();  // already fetched and cleared
  EXPECT_EQ(reported.size(), 1u);
}

TEST(ComportEvents, LineErrorBitsMapToTheirMembers) {
  const std::pair<uint32_t, TLineErrors> cases[] = {
      {0, TLineErrors()},
      {platform::CE_BREAK, leBreak},
      {platform::CE_DNS, leDeviceNotSelected},
      {platform::CE_FRAME, leFrame},
      {platform::CE_IOE, leIO},
      {platform::CE_MODE, leMode},
      {platform::CE_OOP, leOutOfPaper},
      {platform::CE_OVERRUN, leOverrun},
      {platform::CE_PTO, leDeviceTimeOut},
      {platform::CE_RXOVER, leRxOverflow},
      {platform::CE_RXPARITY, leParity},
      {platform::CE_TXFULL, leTxFull},
      {platform::CE_RXPARITY | platform::CE_TXFULL | 0x4020, leParity | leTxFull},  // unnamed bits ignored
  };
  for (const auto& [word, expected] : cases) EXPECT_EQ(TCustomComPort::GetLineErrors(word), expected) << word;
  // Member i is bit i of the 16-bit set.
  EXPECT_EQ(int(leBreak), 1 << 0);
  EXPECT_EQ(int(leTxFull), 1 << 10);
}

TEST(ComportEvents, AnErrorInAHandlerIsShownAndLaterEventsStillArrive) {
  ShownExceptions shown;
  std::vector<std::string> calls;
  FakePort f;
  f.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    calls.push_back("rx");
    if (calls.size() == 1) throw Exception("handler failed");
  }));
  f.port.SetOnTxEmpty(Recording(calls, "tx"));
  f.port.Open();
  f.device->AwaitWaiter();
  // The error ends its batch: the transmit-empty event of it is skipped.
  f.device->RaiseEvents(platform::EV_RXCHAR | platform::EV_TXEMPTY);
  ASSERT_TRUE(WaitUntil([&] { return shown.messages.size() == 1; }));
  EXPECT_EQ(shown.messages[0], "handler failed");
  f.device->RaiseEvents(platform::EV_RXCHAR | platform::EV_TXEMPTY);
  ASSERT_TRUE(WaitUntil([&] { return calls.size() == 3; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"rx", "rx", "tx"}));
  EXPECT_EQ(shown.messages.size(), 1u);
}

TEST(ComportEvents, AFailedWaitIsReportedOnTheUserInterfaceThreadAndDropsTheThread) {
  std::vector<int> codes;
  bool onUi = false;
  FakePort f;
  f.port.SetOnError(TComErrorEvent::Bind([&](TCustomComPort*, EComError& e, TComAction&) {
    codes.push_back(e.ComErrorCode);
    onUi = TThread::IsUiThread();
  }));
  f.port.SetOnRxChar(TNotifyEvent::Bind([](TObject*) {}));
  f.port.Open();
  f.device->AwaitWaiter();
  f.device->FailWait(EPERM);
  ASSERT_TRUE(WaitUntil([&] { return codes.size() == 1; }));
  EXPECT_EQ(codes[0], EPERM);
  EXPECT_TRUE(onUi);
  EXPECT_EQ(f.port.ThreadErrorCode, EPERM);
  EXPECT_TRUE(ThreadGone(f.device, 2));
  EXPECT_TRUE(f.port.Active());  // not a device that went away

  // The ended thread is never touched again; a handler change starts a
  // fresh one.
  int calls = 0;
  f.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) { ++calls; }));
  f.device->AwaitWaiter();
  f.device->Receive("x");
  EXPECT_TRUE(WaitUntil([&] { return calls == 1; }));
  f.port.Close();
}

TEST(ComportEvents, AQueuedWaitIsFollowedToItsEvents) {
  int calls = 0;
  FakePort f;
  f.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) { ++calls; }));
  f.port.SetDeviceFactory([&](const std::string&) -> platform::SerialDevicePtr {
    f.device = std::make_shared<FakeSerialDevice>();
    f.device->SetWaitStyle(FakeSerialDevice::WaitStyle::Pending);
    return f.device;
  });
  f.port.Open();
  f.device->AwaitWaiter();
  f.device->Receive("x");
  ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
  f.device->AwaitWaiter();
  f.device->Receive("y");
  ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
  auto device = f.device;
  f.port.Close();
  EXPECT_TRUE(ThreadGone(device, 2));
}

TEST(ComportEvents, ABatchStillQueuedWhenThePortClosesOrGoesIsDropped) {
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "closed");
    int calls = 0;
    auto f = std::make_unique<FakePort>();
    f->port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) { ++calls; }));
    f->port.Open();
    auto device = f->device;
    // The port closes or goes while the batch's dispatch waits in the queue.
    BeforeQueuedCall closing([&] {
      if (destroy)
        f.reset();
      else
        f->port.Close();
    });
    device->AwaitWaiter();
    device->Receive("x");
    ASSERT_TRUE(WaitUntil([&] { return closing.Ran(); }));
    EXPECT_TRUE(ThreadGone(device, destroy ? 1 : 2));
    EXPECT_EQ(calls, 0);
  }
}

// A batch whose dispatch was queued when the last handler went reaches the
// handler set afterwards: set before the dispatch runs (also while the new
// thread is already on its way into its first wait, so the hand-over cannot
// slip in between its last look and its sleep), or set after it ran.
TEST(ComportEvents, ABatchQueuedWhenTheLastHandlerWentReachesTheHandlerSetAfterwards) {
  enum class When { BeforeItRuns, BeforeItRunsWithTheNewThreadEnteringItsWait, AfterItRan };
  const std::pair<When, const char*> cases[] = {
      {When::BeforeItRuns, "set before the dispatch runs"},
      {When::BeforeItRunsWithTheNewThreadEnteringItsWait, "set before, the new thread entering its wait"},
      {When::AfterItRan, "set after it ran"},
  };
  for (const auto& [when, name] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> calls;
    FakePort f;
    f.port.SetOnRxChar(Recording(calls, "first"));
    f.port.Open();
    const bool paused = when == When::BeforeItRunsWithTheNewThreadEnteringItsWait;
    BeforeQueuedCall replacing([&] {
      f.port.SetOnRxChar(nullptr);
      if (when == When::AfterItRan) return;
      if (paused) f.device->PauseNextWait();
      f.port.SetOnRxChar(Recording(calls, "second"));
      if (paused) f.device->AwaitPausedWait();  // the new thread, inside its wait call
    });
    f.device->AwaitWaiter();
    f.device->Receive("x");
    ASSERT_TRUE(WaitUntil([&] { return replacing.Ran(); }));
    if (paused) f.device->ResumeWait();  // the old thread's batch has been handed over by now
    if (when == When::AfterItRan) {
      ASSERT_TRUE(ThreadGone(f.device, 2));  // its dispatch ran while no handler was set
      f.port.SetOnRxChar(Recording(calls, "second"));
    }
    EXPECT_TRUE(WaitUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, std::vector<std::string>{"second"});
  }
}

// A thread stopped on its way into its next wait never waits under the mask
// of the handler set afterwards, where it would take the next batch.
TEST(ComportEvents, AThreadStoppedOnItsWayIntoAWaitDoesNotWaitUnderTheNextMask) {
  std::vector<std::string> calls;
  FakePort f;
  f.port.SetOnRxChar(Recording(calls, "first"));
  f.port.Open();
  f.device->AwaitWaiter();
  f.device->PauseNextWait();
  f.device->Receive("a");
  ASSERT_TRUE(WaitUntil([&] { return calls.size() == 1; }));
  f.device->AwaitPausedWait();
  f.port.SetOnRxChar(nullptr);
  f.port.SetOnRxChar(Recording(calls, "second"));
  f.device->ResumeWait();
  // The stopped thread leaves: the test, the port and the new thread hold
  // the device.
  EXPECT_TRUE(ThreadGone(f.device, 3));
  f.device->Receive("b");
  EXPECT_TRUE(WaitUntil([&] { return calls.size() == 2; }));
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
}

TEST(ComportOnPtyEvents, BytesFromTheFarEndReachOnRxCharOnTheUserInterfaceThread) {
  Pty pty;
  TComPort port;
  std::string received;
  bool onUi = true;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject* sender) {
    EXPECT_EQ(sender, &port);
    onUi = onUi && TThread::IsUiThread();
    char buffer[256];
    for (int waiting = port.InputCount(); waiting > 0;) {
      const int chunk = std::min<int>(waiting, sizeof buffer);
      port.Read(buffer, chunk, true);
      received.append(buffer, static_cast<size_t>(chunk));
      waiting -= chunk;
    }
  }));
  port.SetDeviceName(pty.QPath());
  port.Open();
  std::string sent;
  for (int i = 0; i < 200; ++i) sent += "line " + std::to_string(i) + "\r\n";
  pty.Send(sent);
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= sent.size(); }));
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(onUi);
  EXPECT_EQ(port.InputCount(), 0);
}

// Bytes that come while a batch runs and that its handler reads bring no
// batch of their own: the next batch comes with the next bytes.
TEST(ComportOnPtyEvents, BytesAHandlerReadsWhileItRunsBringNoFurtherBatch) {
  Pty pty;
  TComPort port;
  std::vector<std::string> batches;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    std::string got = port.ReadString();
    if (batches.empty()) {
      // The event thread takes the next byte into the queue while this
      // batch runs (the count holds what it has taken); then it is read.
      pty.Send("b");
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (port.InputCount() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
      got += port.ReadString();
    }
    batches.push_back(got);
  }));
  port.SetDeviceName(pty.QPath());
  port.Open();
  pty.Send("a");
  ASSERT_TRUE(WaitUntil([&] { return batches.size() == 1; }));
  pty.Send("c");
  ASSERT_TRUE(WaitUntil([&] { return batches.size() >= 2; }));
  EXPECT_EQ(batches, (std::vector<std::string>{"ab", "c"}));
}

// Bytes that come while a batch runs and stay unread make the next batch,
// which runs at once after it: before anything posted meanwhile.
TEST(ComportOnPtyEvents, ABatchThatCameWhileOneRanFollowsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "the system's device does not hold events: the next batch follows what the running one posted";
#endif
  Pty pty;
  TComPort port;
  std::vector<std::string> seen;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    seen.push_back(port.ReadString());
    if (seen.size() == 1) {
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [&] { seen.push_back("posted"); }, Qt::QueuedConnection);
      pty.Send("b");
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (port.InputCount() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    }
  }));
  port.SetDeviceName(pty.QPath());
  port.Open();
  pty.Send("a");
  ASSERT_TRUE(WaitUntil([&] { return seen.size() >= 3; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "posted"}));
}

TEST(ComportOnPtyEvents, EventsArriveWhileAModalBoxIsOpen) {
  Pty pty;
  TComPort port;
  QDialog box;
  std::string received;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    received += port.ReadString();
    if (received == "ping") box.accept();
  }));
  port.SetDeviceName(pty.QPath());
  port.Open();
  QTimer::singleShot(0, [&] { pty.Send("ping"); });
  QTimer::singleShot(10000, &box, &QDialog::reject);  // only if the event never comes
  EXPECT_EQ(box.exec(), QDialog::Accepted);
  EXPECT_EQ(received, "ping");
}

TEST(ComportOnPtyEvents, UnsynchronizedHandlerThatClosesReturnsAfterTheCloseOnTheUserInterfaceThread) {
  Pty pty;
  TComPort port;
  port.SetSynchronizeEvents(false);
  std::atomic<bool> handlerOnUi{true}, closeOnUi{false}, activeAfterClose{true}, done{false};
  port.SetAfterClose(TOpenCloseEvent::Bind([&](TCustomComPort*) { closeOnUi = TThread::IsUiThread(); }));
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    handlerOnUi = TThread::IsUiThread();
    port.Close();
    activeAfterClose = port.Active();
    done = true;
  }));
  port.SetDeviceName(pty.QPath());
  port.Open();
  pty.Send("x");
  ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
  EXPECT_FALSE(handlerOnUi);
  EXPECT_TRUE(closeOnUi);
  EXPECT_FALSE(activeAfterClose);
  EXPECT_FALSE(port.Active());
}

TEST(ComportOnPtyEvents, AHangUpClosesThePortThroughItsCloseEvents) {
  Pty pty;
  EventRecorder events;
  std::vector<int> codes;
  TComPort port;
  events.Attach(port);
  port.SetOnError(
      TComErrorEvent::Bind([&](TCustomComPort*, EComError& e, TComAction&) { codes.push_back(e.ComErrorCode); }));
  port.SetOnRxChar(TNotifyEvent::Bind([](TObject*) {}));
  port.SetDeviceName(pty.QPath());
  port.Open();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !port.Active(); }));
  ASSERT_EQ(codes.size(), 1u);
  EXPECT_TRUE(platform::IsDeviceGone(codes[0])) << codes[0];
  EXPECT_EQ(events.events, (std::vector<std::string>{"BeforeOpen(closed)", "AfterOpen(open)", "BeforeClose(open)",
                                                     "AfterClose(closed)"}));
  port.Close();  // nothing left to close, nothing touched
  EXPECT_EQ(events.events.size(), 4u);
}

TEST(ComportEvents, AnUnsynchronizedBatchEndsWhenAHandlerClosedThePort) {
  // The owner frees the port as soon as the handler's close returned; the
  // rest of the batch must not touch it.
  std::atomic<bool> closed{false}, txCalled{false};
  auto f = std::make_unique<FakePort>();
  f->port.SetSynchronizeEvents(false);
  f->port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    f->port.Close();
    closed = true;
  }));
  f->port.SetOnTxEmpty(TNotifyEvent::Bind([&](TObject*) { txCalled = true; }));
  f->port.Open();
  auto device = f->device;
  device->AwaitWaiter();
  device->RaiseEvents(platform::EV_RXCHAR | platform::EV_TXEMPTY);
  ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
  f.reset();
  EXPECT_TRUE(ThreadGone(device, 1));
  EXPECT_FALSE(txCalled);
}

TEST(ComportEvents, ABatchEndsWhenAHandlerDestroyedThePort) {
  // The owner frees the port from its received-data handler while the same
  // batch still holds a flag-character event: neither the freed port's log
  // setting nor its next handler may be touched.
  QTemporaryDir dir;
  bool flagCalled = false;
  auto* port = new FakePort;
  port->port.SetLogFile(dir.filePath("port.log"));
  port->port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    delete port;
    port = nullptr;
  }));
  port->port.SetOnRxFlag(TNotifyEvent::Bind([&](TObject*) { flagCalled = true; }));
  port->port.Open();
  auto device = port->device;
  device->AwaitWaiter();
  device->RaiseEvents(platform::EV_RXCHAR | platform::EV_RXFLAG);
  ASSERT_TRUE(WaitUntil([&] { return port == nullptr; }));
  EXPECT_TRUE(ThreadGone(device, 1));
  EXPECT_FALSE(flagCalled);
}

TEST(ComportEvents, TheLogFileAndOnErrorMayChangeWhileAnUnsynchronizedThreadUsesThem) {
  QTemporaryDir dir;
  const QString logs[] = {dir.filePath("a.log"), dir.filePath("b.log")};
  std::atomic<int> batches{0};
  std::atomic<int> errors{0};
  const auto countingOnError = [&errors] {
    return TComErrorEvent::Bind([&errors](TCustomComPort*, EComError&, TComAction&) { ++errors; });
  };
  FakePort f;
  f.port.SetSynchronizeEvents(false);
  f.port.SetLogFile(logs[0]);
  f.port.SetOnError(countingOnError());
  f.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    try {
      f.port.RaiseError(0, "raised on the event thread");
    } catch (const EComError&) {
    }
    ++batches;
  }));
  f.port.Open();
  constexpr int kBatches = 100;
  for (int i = 0; i < kBatches; ++i) {
    f.device->AwaitWaiter();
    f.device->RaiseEvents(platform::EV_RXCHAR);
    // While the thread logs the batch and raises, both change.
    f.port.SetLogFile(logs[(i + 1) % 2]);
    f.port.SetOnError(countingOnError());
    ASSERT_TRUE(WaitUntil([&] { return batches > i; }));
  }
  f.port.Close();
  EXPECT_EQ(errors, kBatches);
  // Each batch's line went whole into one of the two files.
  std::vector<std::string> entries = LogEntries(logs[0]);
  const std::vector<std::string> second = LogEntries(logs[1]);
  entries.insert(entries.end(), second.begin(), second.end());
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "RxChar event"), kBatches);
}
