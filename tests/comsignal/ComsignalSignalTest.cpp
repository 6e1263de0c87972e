// The signal shown: pulses on a pseudo-terminal, the transmit signal, a
// modem line on the device double, the colours, and the indicator's work
// staying on the user-interface thread when the port's events do not.
#include <gtest/gtest.h>

#include <QFrame>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>

#include "tests/comsignal/ComsignalSupport.h"

namespace comsignaltest {
namespace {

const QColor kDarkGreen(0, 128, 0);
const QColor kBrightGreen(0, 255, 0);

TEST(ComSignalTest, InitialValues) {
  TComSignal indicator;
  EXPECT_EQ(indicator.ColorOff(), 32768);
  EXPECT_EQ(indicator.ColorOn(), 65280);
  EXPECT_EQ(indicator.ComPort(), nullptr);
  EXPECT_EQ(indicator.Control(), nullptr);
  EXPECT_EQ(indicator.Delay(), 100);
  EXPECT_EQ(indicator.Signal(), siNone);
  EXPECT_FALSE(indicator.SignalValue());
  EXPECT_FALSE(indicator.OnSignal().Assigned());
  EXPECT_FALSE(indicator.About().isEmpty());
  // Colours are 0x00BBGGRR.
  EXPECT_EQ(ColorToQColor(0x00336699), QColor(0x99, 0x66, 0x33));
  EXPECT_EQ(ColorToQColor(indicator.ColorOff()), kDarkGreen);
}

TEST(ComSignalTest, WithoutSignalOnlyOpenAndCloseAreTakenOverAndTheOwnersStillRun) {
  FakePort fake;
  EventRecorder owner;
  owner.Attach(fake.port);
  TComSignal indicator;
  SignalLog log;
  log.Attach(indicator);
  indicator.SetComPort(&fake.port);
  fake.port.Open();
  fake.port.Close();
  EXPECT_EQ(owner.events, (std::vector<std::string>{"BeforeOpen(closed)", "AfterOpen(open)", "BeforeClose(open)",
                                                     "AfterClose(closed)"}));
  EXPECT_FALSE(indicator.SignalValue());
  EXPECT_TRUE(log.values.empty());
}

// A real pseudo-terminal: the indicator is attached to a port already open,
// whose event thread starts for the event taken over.
struct RxCharOnPty : ::testing::Test {
  Pty pty;
  TComPort port;
  TestSignal indicator;
  QFrame control;
  SignalLog log;
  int ownerCalls = 0;

  void SetUp() override {
    port.SetDeviceName(pty.QPath());
    port.SetOnRxChar(TNotifyEvent::Bind([this](TObject* sender) {
      EXPECT_EQ(sender, &port);
      ++ownerCalls;
      port.ReadString();
    }));
    indicator.SetControl(&control);
    indicator.SetSignal(siRxChar);
    log.Attach(indicator);
  }

  void Attach(int delay) {
    indicator.SetDelay(delay);
    port.Open();
    indicator.SetComPort(&port);
  }

  bool Receive(const std::string& bytes) {
    const int expected = ownerCalls + 1;
    pty.Send(bytes);
    return WaitUntil([&] { return ownerCalls >= expected; });
  }
};

TEST_F(RxCharOnPty, ReceivedCharactersLightItAndItGoesOutDelayAfter) {
  Attach(30);
  const std::vector<QColor> expected{kBrightGreen, kDarkGreen};
  std::vector<QColor> colors;
  indicator.SetOnSignal(TNotifyEvent::Bind([&](TObject*) {
    log.values.push_back(indicator.SignalValue());
    colors.push_back(Background(control));
  }));
  EXPECT_EQ(Background(control), kDarkGreen);
  ASSERT_TRUE(Receive("hello"));
  ASSERT_TRUE(WaitUntil([&] { return log.values.size() >= 2; }));
  EXPECT_EQ(log.values, (std::vector<bool>{true, false}));
  EXPECT_EQ(colors, expected);
  EXPECT_EQ(ownerCalls, 1);
}

TEST_F(RxCharOnPty, ABurstKeepsItLitWithoutMoreNotices) {
  Attach(600000);  // far longer than the burst
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Receive(std::string(1, static_cast<char>('a' + i))));
  EXPECT_EQ(log.values, std::vector<bool>{true});
  EXPECT_TRUE(indicator.SignalValue());
  EXPECT_EQ(Background(control), kBrightGreen);
  port.Close();
  EXPECT_EQ(log.values, (std::vector<bool>{true, false}));
}

TEST_F(RxCharOnPty, AZeroDelayNeverPutsItOut) {
  Attach(0);
  indicator.CountExpiries();
  ASSERT_TRUE(Receive("x"));
  EXPECT_FALSE(indicator.Timer()->Running());
  EXPECT_TRUE(indicator.SignalValue());
  port.Close();  // until the port is closed
  EXPECT_FALSE(indicator.SignalValue());
  EXPECT_EQ(indicator.expiries, 0);
}

TEST(ComSignalTest, TransmitSignalStaysLitWhileAWriteIsInProgress) {
  FakePort fake;
  TestSignal indicator;
  indicator.SetSignal(siTxChar);
  indicator.SetDelay(5);
  indicator.CountExpiries();
  SignalLog log;
  log.Attach(indicator);
  std::atomic<int> ownerBefore{0}, ownerAfter{0};
  fake.port.SetBeforeWrite(TReadWriteEvent::Bind([&](TObject*, const void*, int length, bool) {
    EXPECT_EQ(length, 3);
    ++ownerBefore;
  }));
  fake.port.SetAfterWrite(TReadWriteEvent::Bind([&](TObject*, const void*, int, bool) { ++ownerAfter; }));
  fake.port.Open();
  indicator.SetComPort(&fake.port);

  // A worker's waiting write that the device holds: timer expiries while
  // it is under way leave the signal lit; the first one after it ended
  // puts the signal out.
  fake.device->HoldWrites(true);
  std::thread writer([&] { fake.port.Write("abc", 3, true); });
  ASSERT_TRUE(WaitUntil([&] { return indicator.SignalValue(); }));
  const int expiriesWhenLit = indicator.expiries;
  ASSERT_TRUE(WaitUntil([&] { return indicator.expiries >= expiriesWhenLit + 3; }));
  EXPECT_EQ(log.values, std::vector<bool>{true});
  fake.device->HoldWrites(false);
  writer.join();
  EXPECT_EQ(ownerBefore, 1);
  EXPECT_EQ(ownerAfter, 1);
  ASSERT_TRUE(WaitUntil([&] { return log.values.size() >= 2; }));
  EXPECT_EQ(log.values, (std::vector<bool>{true, false}));

  // A write on this thread does the same.
  fake.port.WriteString("abc");
  EXPECT_EQ(ownerBefore, 2);
  EXPECT_EQ(ownerAfter, 2);
  ASSERT_TRUE(WaitUntil([&] { return log.values.size() >= 4; }));
  EXPECT_EQ(log.values, (std::vector<bool>{true, false, true, false}));
}

// A write that fails after BeforeWrite never gets to AfterWrite: the
// transmit signal goes out at the first expiry all the same, and the
// timer stops.
TEST(ComSignalTest, AFailedWritePutsTheTransmitSignalOut) {
  const struct {
    const char* name;
    bool ownerRefuses;  // else the device refuses
    bool onWorker;
  } cases[] = {
      {"the device refuses the write", false, false},
      {"the owner's BeforeWrite raises", true, false},
      {"the device refuses a worker's write", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort fake;
    TestSignal indicator;
    indicator.SetSignal(siTxChar);
    indicator.SetDelay(5);
    SignalLog log;
    log.Attach(indicator);
    if (c.ownerRefuses)
      fake.port.SetBeforeWrite(
          TReadWriteEvent::Bind([](TObject*, const void*, int, bool) { throw EComError(0, "refused"); }));
    fake.port.Open();
    indicator.SetComPort(&fake.port);
    if (!c.ownerRefuses) fake.device->FailOnce(Op::WriteFile, EIO);

    const auto write = [&] { EXPECT_THROW(fake.port.WriteString("abc"), EComError); };
    if (c.onWorker)
      std::thread(write).join();
    else
      write();
    ASSERT_TRUE(WaitUntil([&] { return log.values.size() >= 2; }));
    EXPECT_EQ(log.values, (std::vector<bool>{true, false}));
    EXPECT_FALSE(indicator.Timer()->Running());
  }
}

// A close puts the transmit signal out and stops its timer at once,
// after a write that ended or one that failed.
TEST(ComSignalTest, ACloseEndsTheTransmitSignal) {
  for (const bool writeFails : {false, true}) {
    SCOPED_TRACE(writeFails ? "failed write" : "write done");
    FakePort fake;
    TestSignal indicator;
    indicator.SetSignal(siTxChar);
    indicator.SetDelay(600000);  // only the close can end it
    fake.port.Open();
    indicator.SetComPort(&fake.port);
    if (writeFails) fake.device->FailOnce(Op::WriteFile, EIO);
    try {
      fake.port.WriteString("abc");
    } catch (const EComError&) {
    }
    ASSERT_TRUE(indicator.SignalValue());

    fake.port.Close();
    EXPECT_FALSE(indicator.SignalValue());
    EXPECT_FALSE(indicator.Timer()->Running());
  }
}

TEST(ComSignalTest, ModemLineSignalFollowsTheLineAndIsReadAtOpen) {
  TComPort port;
  std::shared_ptr<FakeSerialDevice> device;
  port.SetDeviceFactory([&](const std::string&) {
    device = std::make_shared<FakeSerialDevice>();
    device->SetModemStatus(platform::MS_CTS_ON | platform::MS_RING_ON);
    return device;
  });
  int ownerCalls = 0;
  port.SetOnCTSChange(TNotifyEvent::Bind([&](TObject* sender) {
    EXPECT_EQ(sender, &port);
    ++ownerCalls;
  }));
  TComSignal indicator;
  indicator.SetSignal(siCTS);
  indicator.SetComPort(&port);
  SignalLog log;
  log.Attach(indicator);

  port.Open();
  EXPECT_TRUE(indicator.SignalValue());
  device->SetModemStatus(platform::MS_RING_ON);
  ASSERT_TRUE(WaitUntil([&] { return !indicator.SignalValue(); }));
  EXPECT_EQ(ownerCalls, 1);
  device->SetModemStatus(platform::MS_CTS_ON);
  ASSERT_TRUE(WaitUntil([&] { return indicator.SignalValue(); }));
  EXPECT_EQ(ownerCalls, 2);
  port.Close();
  EXPECT_FALSE(indicator.SignalValue());
  EXPECT_EQ(log.values, (std::vector<bool>{true, false, true, false}));

  // The other lines, each by its own modem status bit.
  const struct {
    TSignal signal;
    uint32_t line;
  } lines[] = {{siDSR, platform::MS_DSR_ON}, {siRing, platform::MS_RING_ON}, {siRLSD, platform::MS_RLSD_ON}};
  for (const auto& l : lines) {
    indicator.SetSignal(l.signal);
    port.SetDeviceFactory([&](const std::string&) {
      device = std::make_shared<FakeSerialDevice>();
      device->SetModemStatus(l.line);
      return device;
    });
    port.Open();
    EXPECT_TRUE(indicator.SignalValue()) << l.signal;
    port.Close();
    port.SetDeviceFactory([&](const std::string&) {
      device = std::make_shared<FakeSerialDevice>();
      device->SetModemStatus(~l.line & 0xF0);
      return device;
    });
    port.Open();
    EXPECT_FALSE(indicator.SignalValue()) << l.signal;
    port.Close();
  }
}

TEST(ComSignalTest, ColorOnShowsFromTheNextChangeColorOffAtOnce) {
  FakePort fake;
  fake.port.Open();
  TComSignal indicator;
  indicator.SetDelay(0);
  indicator.SetSignal(siLineError);
  QFrame control;
  indicator.SetControl(&control);
  EXPECT_EQ(Background(control), kDarkGreen);
  EXPECT_TRUE(control.autoFillBackground());
  indicator.SetComPort(&fake.port);
  fake.device->AddLineErrors(platform::CE_FRAME);
  ASSERT_TRUE(WaitUntil([&] { return indicator.SignalValue(); }));
  EXPECT_EQ(Background(control), kBrightGreen);

  indicator.SetColorOn(0x0000FF);  // red, shown from the next recolouring
  EXPECT_EQ(Background(control), kBrightGreen);
  indicator.SetColorOff(0xFF0000);  // blue; recolours now, with the new ColorOn
  EXPECT_EQ(Background(control), QColor(255, 0, 0));
  fake.port.Close();
  EXPECT_EQ(Background(control), QColor(0, 0, 255));

  // A new control takes the colour at once; the old one keeps its own.
  QFrame other;
  indicator.SetControl(&other);
  EXPECT_EQ(Background(other), QColor(0, 0, 255));
}

// With SynchronizeEvents off the port's events and a worker's writes come
// on other threads: the owner's handlers run there, the indicator's value,
// timer and colour change on the user-interface thread only.
TEST(ComSignalTest, WorkOfOtherThreadsIsDoneOnTheUserInterfaceThread) {
  static std::atomic<int> timerWarnings{0};
  timerWarnings = 0;
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
    if (text.contains("Timers")) ++timerWarnings;
  });
  struct Restore {
    QtMessageHandler handler;
    ~Restore() { qInstallMessageHandler(handler); }
  } restore{previous};

  for (const TSignal signal : {siRxChar, siTxChar}) {
    SCOPED_TRACE(signal);
    FakePort fake;
    fake.port.SetSynchronizeEvents(false);
    std::atomic<int> ownerCalls{0};
    std::atomic<QThread*> ownerThread{nullptr};
    const auto record = [&] {
      ownerThread = QThread::currentThread();
      ++ownerCalls;
    };
    fake.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) { record(); }));
    fake.port.SetAfterWrite(TReadWriteEvent::Bind([&](TObject*, const void*, int, bool) { record(); }));
    TComSignal indicator;
    indicator.SetSignal(signal);
    indicator.SetDelay(20);
    QFrame control;
    indicator.SetControl(&control);
    std::vector<QColor> colors;
    SignalLog log;
    log.Attach(indicator);
    indicator.SetOnSignal(TNotifyEvent::Bind([&](TObject*) {
      log.values.push_back(indicator.SignalValue());
      log.threads.push_back(QThread::currentThread());
      colors.push_back(Background(control));
    }));
    indicator.SetComPort(&fake.port);
    fake.port.Open();

    if (signal == siRxChar) {
      fake.device->Receive("x");
    } else {
      std::thread writer([&] { fake.port.WriteString("x"); });
      writer.join();
    }
    ASSERT_TRUE(WaitUntil([&] { return ownerCalls.load() == 1; }));
    EXPECT_NE(ownerThread.load(), QThread::currentThread());
    ASSERT_TRUE(WaitUntil([&] { return log.values.size() >= 2; }));
    EXPECT_EQ(log.values, (std::vector<bool>{true, false}));
    EXPECT_EQ(log.threads, (std::vector<QThread*>{QThread::currentThread(), QThread::currentThread()}));
    EXPECT_EQ(colors, (std::vector<QColor>{kBrightGreen, kDarkGreen}));
    fake.port.Close();
  }
  EXPECT_EQ(timerWarnings.load(), 0);
}

}  // namespace
}  // namespace comsignaltest
