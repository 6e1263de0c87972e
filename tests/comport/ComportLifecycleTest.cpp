// The port's life: defaults, opening and closing with their events, the
// guards, the settings of a closed port, the queue operations; on the
// device double and on real pseudo-terminals.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>

#include "ComportTestSupport.h"
#include "platform/LastError.h"
#include "platform/ProcessPriority.h"

using namespace comporttest;

TEST(ComportLifecycle, NewPortDefaults) {
  TComPort port;
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.DeviceName(), "COM1");
  EXPECT_TRUE(port.SynchronizeEvents());
  EXPECT_EQ(port.PriorityClass(), pcDefault);
  EXPECT_EQ(port.ThreadPriority(), tpTimeCritical);
  EXPECT_EQ(port.BaudRate(), brDefault);
  EXPECT_EQ(port.DataBits(), dbDefault);
  EXPECT_EQ(port.Parity(), paDefault);
  EXPECT_EQ(port.StopBits(), sbDefault);
  EXPECT_EQ(port.Options(), TOptions());
  EXPECT_EQ(port.BufferSizes()->Input(), 4096);
  EXPECT_EQ(port.BufferSizes()->Output(), 2048);
  EXPECT_EQ(port.Characters()->XOn(), 17);
  EXPECT_EQ(port.Characters()->XOff(), 19);
  EXPECT_TRUE(port.LogFile().isEmpty());
  EXPECT_FALSE(port.About().isEmpty());
  port.SetAbout("changed");
  EXPECT_NE(port.About(), "changed");
}

TEST(ComportLifecycle, OpenConfiguresTheDeviceAndCloseReleasesIt) {
  EventRecorder events;  // outlives the port, whose destruction may close it
  FakePort f;
  events.Attach(f.port);
  f.port.Open();
  ASSERT_TRUE(f.port.Active());
  // A bare name is a device of the system's device namespace.
  EXPECT_EQ(f.openedNames, std::vector<std::string>{f.port.DevicePath().toStdString()});
  EXPECT_EQ(f.device->CallLog(),
            (std::vector<Op>{Op::PurgeComm, Op::PurgeComm, Op::SetupComm, Op::GetCommState, Op::SetCommState,
                             Op::GetCommTimeouts, Op::SetCommTimeouts, Op::SetCommMask}));
  EXPECT_EQ(f.device->PurgeFlags(), (std::vector<uint32_t>{0x0A, 0x05}));
  EXPECT_EQ(f.device->InQueueSize(), 4096u);
  EXPECT_EQ(f.device->Mask(), 0u);  // no line-event handler

  f.port.Open();  // already open: nothing
  EXPECT_EQ(f.openedNames.size(), 1u);

  auto device = f.device;
  f.port.Close();
  EXPECT_FALSE(f.port.Active());
  EXPECT_TRUE(device->IsClosed());
  f.port.Close();  // already closed: no events
  EXPECT_EQ(events.events, (std::vector<std::string>{"BeforeOpen(closed)", "AfterOpen(open)", "BeforeClose(open)",
                                                     "AfterClose(closed)"}));

  // The same port opens again, with a new device.
  f.port.Open();
  EXPECT_TRUE(f.port.Active());
  EXPECT_NE(f.device, device);
}

TEST(ComportLifecycle, AFailedOpenLeavesThePortClosed) {
  // The device cannot be opened, or a configuration step fails.
  struct Case {
    const char* name;
    int openError;
    Op failingOp;
  };
  for (const Case c :
       {Case{"open", ENOENT, Op::Close}, Case{"purge", EIO, Op::PurgeComm}, Case{"state", EINVAL, Op::SetCommState},
        Case{"timeouts", EIO, Op::SetCommTimeouts}, Case{"mask", EIO, Op::SetCommMask}}) {
    SCOPED_TRACE(c.name);
    EventRecorder events;
    FakePort f;
    events.Attach(f.port);
    f.openError = c.openError == ENOENT ? ENOENT : 0;
    f.port.SetDeviceFactory([&f, &c](const std::string&) -> platform::SerialDevicePtr {
      if (f.openError != 0) {
        platform::SetLastError(f.openError);
        return nullptr;
      }
      f.device = std::make_shared<FakeSerialDevice>();
      f.device->FailWith(c.failingOp, c.openError);
      return f.device;
    });
    const EComError e = CatchComError([&] { f.port.Open(); });
    EXPECT_EQ(e.ComErrorCode, c.openError);
    EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(c.openError));
    EXPECT_FALSE(f.port.Active());
    if (f.device) EXPECT_TRUE(f.device->IsClosed());
    EXPECT_EQ(events.events, std::vector<std::string>{"BeforeOpen(closed)"});
  }
}

TEST(ComportLifecycle, ARaisingBeforeHandlerStopsTheOpenOrTheClose) {
  FakePort f;
  f.port.SetBeforeOpen(TOpenCloseEvent::Bind([](TCustomComPort*) { throw EAbort(); }));
  EXPECT_THROW(f.port.Open(), EAbort);
  EXPECT_TRUE(f.openedNames.empty());  // nothing acquired

  f.port.SetBeforeOpen(nullptr);
  f.port.Open();
  f.port.SetBeforeClose(TOpenCloseEvent::Bind([](TCustomComPort*) { throw EAbort(); }));
  EXPECT_THROW(f.port.Close(), EAbort);
  EXPECT_TRUE(f.port.Active());
  EXPECT_FALSE(f.device->IsClosed());
}

TEST(ComportLifecycle, DestroyingAnOpenPortReleasesTheDeviceEvenWhenCloseRaises) {
  auto f = std::make_unique<FakePort>();
  f->port.Open();
  auto device = f->device;
  f->port.SetBeforeClose(TOpenCloseEvent::Bind([](TCustomComPort*) { throw EAbort(); }));
  f.reset();
  EXPECT_TRUE(device->IsClosed());
}

TEST(ComportLifecycle, SettingsOfAClosedPortRefuseToChangeWhileOpen) {
  struct Case {
    const char* name;
    std::function<void(TComPort&)> same;
    std::function<void(TComPort&)> change;
    std::function<bool(TComPort&)> unchanged;
  };
  const Case cases[] = {
      {"DeviceName", [](TComPort& p) { p.SetDeviceName("COM1"); }, [](TComPort& p) { p.SetDeviceName("com1"); },
       [](TComPort& p) { return p.DeviceName() == "COM1"; }},
      {"SynchronizeEvents", [](TComPort& p) { p.SetSynchronizeEvents(true); },
       [](TComPort& p) { p.SetSynchronizeEvents(false); }, [](TComPort& p) { return p.SynchronizeEvents(); }},
      {"PriorityClass", [](TComPort& p) { p.SetPriorityClass(pcDefault); },
       [](TComPort& p) { p.SetPriorityClass(pcHigh); }, [](TComPort& p) { return p.PriorityClass() == pcDefault; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort f;
    f.port.Open();
    EXPECT_NO_THROW(c.same(f.port));
    const EComError e = CatchComError([&] { c.change(f.port); });
    EXPECT_EQ(e.ComErrorCode, 0);
    EXPECT_EQ(e.what(), kOpenPortError);
    EXPECT_TRUE(c.unchanged(f.port));
    f.port.Close();
    EXPECT_NO_THROW(c.change(f.port));
    EXPECT_FALSE(c.unchanged(f.port));
  }
  // The event thread's priority may change on an open port.
  FakePort f;
  f.port.Open();
  EXPECT_NO_THROW(f.port.SetThreadPriority(tpLower));
  EXPECT_EQ(f.port.ThreadPriority(), tpLower);
}

TEST(ComportLifecycle, GuardsAndQueueOperationsOfAClosedPort) {
  FakePort f;
  EXPECT_EQ(CatchComError([&] { f.port.CheckActive(); }).what(), kClosedPortError);
  EXPECT_NO_THROW(f.port.CheckInactive());
  // Queue operations on a closed port do nothing and raise nothing.
  EXPECT_NO_THROW({
    f.port.PurgeInput();
    f.port.PurgeOutput();
    f.port.ClearInput();
    f.port.ClearOutput();
    f.port.AbortInput();
    f.port.AbortOutput();
    f.port.Flush();
  });

  f.port.Open();
  EXPECT_NO_THROW(f.port.CheckActive());
  EXPECT_EQ(CatchComError([&] { f.port.CheckInactive(); }).what(), kOpenPortError);
  f.device->ClearCallLog();
  f.port.PurgeInput();
  f.port.PurgeOutput();
  f.port.ClearInput();
  f.port.ClearOutput();
  f.port.AbortInput();
  f.port.AbortOutput();
  f.port.Flush();
  EXPECT_EQ(f.device->PurgeFlags(), (std::vector<uint32_t>{0x0A, 0x05, 0x0A, 0x05, 0x08, 0x04, 0x02, 0x01}));
  EXPECT_EQ(f.device->Calls(Op::FlushFileBuffers), 1);

  f.device->FailOnce(Op::PurgeComm, EIO);
  EXPECT_EQ(CatchComError([&] { f.port.ClearInput(); }).ComErrorCode, EIO);
}

TEST(ComportLifecycle, ActiveOpensAndClosesAtRunTimeOnly) {
  FakePort f;
  f.port.SetActive(true);
  EXPECT_TRUE(f.port.Active());
  f.port.SetActive(false);
  EXPECT_FALSE(f.port.Active());

  // A failed open leaves the recorded value as it was.
  f.openError = EBUSY;
  EXPECT_THROW(f.port.SetActive(true), EComError);
  f.openError = 0;
  f.port.BeginLoading();
  f.port.Loaded();
  EXPECT_FALSE(f.port.Active());

  // While loading the value is only recorded; Loaded replays it.
  f.port.BeginLoading();
  f.port.SetActive(true);
  EXPECT_FALSE(f.port.Active());
  EXPECT_EQ(f.openedNames.size(), 2u);
  f.port.Loaded();
  EXPECT_TRUE(f.port.Active());
  EXPECT_EQ(f.openedNames.size(), 3u);
}

TEST(ComportLifecycle, ADesignTimeInstanceRecordsActiveAndNeverTouchesADevice) {
  FakePort f;
  f.port.SetDesigning(true);
  f.port.SetActive(true);
  EXPECT_TRUE(f.port.Active());
  EXPECT_NO_THROW(f.port.SetDeviceName("COM7"));
  EXPECT_NO_THROW(f.port.SetPriorityClass(pcIdle));
  f.port.BeginLoading();
  f.port.Loaded();
  f.port.SetBaudRate(br9600);
  f.port.Open();
  EXPECT_TRUE(f.openedNames.empty());
}

TEST(ComportLifecycle, PriorityClassHoldsWhileOpenAndIsRestoredOnClose) {
#ifndef _WIN32
  if (::geteuid() != 0) GTEST_SKIP() << "restoring the earlier priority needs the right to raise it";
#endif
  const uint32_t before = platform::GetProcessPriorityClass();
  ASSERT_NE(before, 0u);
  TComPort port;
  port.SetPriorityClass(pcIdle);
  uint32_t atDeviceOpen = 0;
  bool failOpen = false;
  port.SetDeviceFactory([&](const std::string&) -> platform::SerialDevicePtr {
    atDeviceOpen = platform::GetProcessPriorityClass();
    if (failOpen) {
      platform::SetLastError(ENOENT);
      return nullptr;
    }
    return std::make_shared<FakeSerialDevice>();
  });

  port.Open();
  EXPECT_EQ(atDeviceOpen, platform::IDLE_PRIORITY_CLASS);
  EXPECT_EQ(platform::GetProcessPriorityClass(), platform::IDLE_PRIORITY_CLASS);
  port.Close();
  EXPECT_EQ(platform::GetProcessPriorityClass(), before);

  // Also when the open fails after the class was changed.
  failOpen = true;
  atDeviceOpen = 0;
  EXPECT_THROW(port.Open(), EComError);
  EXPECT_EQ(atDeviceOpen, platform::IDLE_PRIORITY_CLASS);
  EXPECT_EQ(platform::GetProcessPriorityClass(), before);
}

// Handlers with real methods of the owner, which record their calls (and
// the owner its end) outside the owner: a call on a half-destroyed owner
// shows in the record.
struct HandlerOwner : QObject {
  static inline std::vector<std::string>* record = nullptr;
  ~HandlerOwner() override { record->push_back("~HandlerOwner"); }
  void PortBeforeClose(TCustomComPort*) { record->push_back("BeforeClose"); }
  void PortAfterClose(TCustomComPort*) { record->push_back("AfterClose"); }
  void PortRxChar(TObject*) { record->push_back("RxChar"); }
};

TEST(ComportLifecycle, APortGoingWithItsOwnerClosesWithoutCallingTheOwnersHandlers) {
  std::vector<std::string> record;
  HandlerOwner::record = &record;
  for (const bool ownerGoes : {true, false}) {
    SCOPED_TRACE(ownerGoes ? "the owner goes" : "the port goes");
    record.clear();
    auto owner = std::make_unique<HandlerOwner>();
    auto* port = new TComPort(owner.get());
    std::shared_ptr<FakeSerialDevice> device;
    port->SetDeviceFactory([&device](const std::string&) { return device = std::make_shared<FakeSerialDevice>(); });
    port->SetBeforeClose(TOpenCloseEvent(owner.get(), &HandlerOwner::PortBeforeClose));
    port->SetAfterClose(TOpenCloseEvent(owner.get(), &HandlerOwner::PortAfterClose));
    port->SetOnRxChar(TNotifyEvent(owner.get(), &HandlerOwner::PortRxChar));
    port->Open();
    device->AwaitWaiter();
    if (ownerGoes) {
      owner.reset();
      EXPECT_EQ(record, std::vector<std::string>{"~HandlerOwner"});
    } else {
      delete port;
      EXPECT_EQ(record, (std::vector<std::string>{"BeforeClose", "AfterClose"}));
    }
    EXPECT_TRUE(device->IsClosed());
  }
  HandlerOwner::record = nullptr;
}

// ---- real pseudo-terminals ---------------------------------------------------

TEST(ComportOnPty, OpenAndCloseBySlavePathWithTheFourEvents) {
  Pty pty;
  EventRecorder events;
  TComPort port;
  events.Attach(port);
  port.SetDeviceName(pty.QPath());
  port.Open();
  EXPECT_TRUE(port.Active());
  port.Close();
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(events.events, (std::vector<std::string>{"BeforeOpen(closed)", "AfterOpen(open)", "BeforeClose(open)",
                                                     "AfterClose(closed)"}));
  // Released: the device opens again at once.
  port.Open();
  EXPECT_TRUE(port.Active());
}

TEST(ComportOnPty, LineSettingsReachTheTerminal) {
  struct Case {
    TBaudRate rate;
    qint32 custom;
    TDataBits bits;
    TParity parity;
    TStopBits stop;
    LineSettings expected;
  };
  const Case cases[] = {
      {br115200, 0, db8, paNone, sb1, {115200, 8, false, false}},
      {brCustom, 250000, db8, paNone, sb2, {250000, 8, false, true}},
  };
  // (A pseudo-terminal keeps the rate and the stop bits; its driver forces
  // eight data bits without parity.)
  for (const Case& c : cases) {
    SCOPED_TRACE(c.custom);
    // Wine sets a rate it does not list as 38400 on a terminal.
    if (c.custom != 0 && PtyPair::IsStandIn()) continue;
    Pty pty;
    TComPort port;
    const LineProbe line(port, pty);
    port.SetDeviceName(pty.QPath());
    port.SetBaudRate(c.rate);
    if (c.custom != 0) port.SetCustomBaudRate(c.custom);
    port.SetDataBits(c.bits);
    port.SetParity(c.parity);
    port.SetStopBits(c.stop);
    port.Open();
    const LineSettings a = line.Read();
    EXPECT_EQ(a.speed, c.expected.speed);
    EXPECT_EQ(a.dataBits, c.expected.dataBits);
    EXPECT_EQ(a.parity, c.expected.parity);
    EXPECT_EQ(a.twoStopBits, c.expected.twoStopBits);

    // A change while open reaches the terminal at once.
    port.SetBaudRate(br9600);
    EXPECT_EQ(line.Read().speed, 9600u);
  }
}

TEST(ComportOnPty, ASecondOpenOfTheSameDeviceFailsWhileTheFirstStaysOpen) {
  if (PtyPair::IsStandIn()) GTEST_SKIP() << "Wine opens a COM port a second time";
  Pty pty;
  TComPort first, second;
  const LineProbe line(first, pty);
  first.SetDeviceName(pty.QPath());
  second.SetDeviceName(pty.QPath());
  first.Open();
  const EComError e = CatchComError([&] { second.Open(); });
  EXPECT_NE(e.ComErrorCode, 0);
  EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(e.ComErrorCode));
  EXPECT_FALSE(second.Active());
  EXPECT_TRUE(first.Active());
  EXPECT_NO_THROW(first.SetBaudRate(br57600));
  EXPECT_EQ(line.Read().speed, 57600u);
}

TEST(ComportOnPty, OpeningAMissingDeviceRaisesAndCreatesNothing) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ttyMissing");
  EventRecorder events;
  TComPort port;
  events.Attach(port);
  port.SetDeviceName(path);
  const EComError e = CatchComError([&] { port.Open(); });
  // The system's own code for the missing device.
  EXPECT_EQ(platform::OpenSerialDevice(QFile::encodeName(port.DevicePath()).toStdString()), nullptr);
  const int missing = platform::GetLastError();
  EXPECT_NE(missing, 0);
  EXPECT_EQ(e.ComErrorCode, missing);
  EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(missing));
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(events.events, std::vector<std::string>{"BeforeOpen(closed)"});
  EXPECT_FALSE(QFileInfo::exists(path));
}

// A NUL in the name would open the device named by the part before it.
TEST(ComportLifecycle, ANameWithANulIsRefused) {
  for (const QString& name : {QStringLiteral("ttyFG2") + QChar(0) + QStringLiteral("x"),
                              QStringLiteral("/dev/ttyFG2") + QChar(0)}) {
    FakePort f;
    f.port.SetDeviceName(name);
    const EComError e = CatchComError([&] { f.port.Open(); });
    EXPECT_EQ(e.ComErrorCode, platform::kErrorInvalidParameter);
    EXPECT_FALSE(f.port.Active());
    EXPECT_TRUE(f.openedNames.empty());  // no device was asked for
  }
}

// A design-time instance whose recorded Active is true has no device: every
// operation that needs one raises as on a closed port.
TEST(ComportLifecycle, ADesignTimeInstanceRecordedActiveRaisesWhereADeviceIsNeeded) {
  FakePort f;
  f.port.SetDesigning(true);
  f.port.SetActive(true);
  ASSERT_TRUE(f.port.Active());
  char buffer[2] = {};
  const std::pair<const char*, std::function<void()>> operations[] = {
      {"ClearLineErrors", [&] { f.port.ClearLineErrors(); }},
      {"CheckLineErrors", [&] { f.port.CheckLineErrors(); }},
      {"Read", [&] { f.port.Read(buffer, 2, true); }},
      {"Write", [&] { f.port.Write(buffer, 2, false); }},
      {"WaitForReadCompletion", [&] { f.port.WaitForReadCompletion(); }},
      {"WaitForWriteCompletion", [&] { f.port.WaitForWriteCompletion(); }},
      {"ReadChar", [&] { f.port.ReadChar(); }},
      {"ReadString", [&] { f.port.ReadString(); }},
      {"ReadLine", [&] { f.port.ReadLine(); }},
      {"WriteString", [&] { f.port.WriteString("x"); }},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    const EComError e = CatchComError(operation);
    EXPECT_EQ(e.ComErrorCode, 0);
    EXPECT_EQ(std::string(e.what()), kClosedPortError);
  }
  EXPECT_TRUE(f.openedNames.empty());
}

// A device factory that returns nothing fails the open even when it left no
// error code behind.
TEST(ComportLifecycle, AnOpenThatYieldsNoDeviceAlwaysRaises) {
  for (const int lastError : {0, platform::kErrorIoPending}) {
    SCOPED_TRACE(lastError);
    EventRecorder events;  // outlives the port
    TComPort port;
    events.Attach(port);
    port.SetDeviceFactory([&](const std::string&) -> platform::SerialDevicePtr {
      platform::SetLastError(lastError);
      return nullptr;
    });
    const EComError e = CatchComError([&] { port.Open(); });
    EXPECT_NE(e.ComErrorCode, 0);
    EXPECT_NE(e.ComErrorCode, platform::kErrorIoPending);
    EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(e.ComErrorCode));
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(events.events, std::vector<std::string>{"BeforeOpen(closed)"});
  }
}
