// Data transfer: Read and Write with their events, completion checks and
// log lines, the queue counters, and the typed operations. On the device
// double and on pseudo-terminals whose far end the test holds.
#include <QTemporaryDir>
#include <climits>
#include <thread>

#include "ComportTestSupport.h"
#include "platform/LastError.h"

using namespace comporttest;

namespace {

// One transfer event as seen by a handler.
struct TransferEvent {
  std::string name;
  const void* buffer;
  int length;
  bool wait;
  bool operator==(const TransferEvent&) const = default;
};

struct TransferRecorder {
  std::vector<TransferEvent> events;
  void Attach(TCustomComPort& port) {
    port.SetBeforeRead(Handler("BeforeRead"));
    port.SetAfterRead(Handler("AfterRead"));
    port.SetBeforeWrite(Handler("BeforeWrite"));
    port.SetAfterWrite(Handler("AfterWrite"));
  }

 private:
  TReadWriteEvent Handler(const std::string& name) {
    return TReadWriteEvent::Bind([this, name](TObject*, const void* buffer, int length, bool wait) {
      events.push_back({name, buffer, length, wait});
    });
  }
};

// An open port on the device double.
struct OpenFakePort : FakePort {
  OpenFakePort() { port.Open(); }
};

}  // namespace

TEST(ComportTransfer, LinesAndTerminatorsKeepWhatFollows) {
  OpenFakePort f;
  f.device->Receive("AB\r\nCD\r");
  EXPECT_EQ(f.port.ReadLine(), "AB\r");
  EXPECT_EQ(f.port.ReadLine(), "\nCD\r");

  f.device->Receive("xyz");
  EXPECT_EQ(f.port.ReadUntil('x'), "x");
  EXPECT_EQ(f.port.ReadUntilBytes('z'), (TBytes{'y', 'z'}));
  EXPECT_EQ(f.port.InputCount(), 0);
}

TEST(ComportTransfer, WordsTravelLeastSignificantByteFirst) {
  OpenFakePort f;
  f.port.WriteWord(0x1234);
  f.port.WriteDWord(0x0A0B0C0D);
  f.port.WaitForWriteCompletion();
  EXPECT_EQ(f.device->Written(), std::string("\x34\x12\x0D\x0C\x0B\x0A", 6));

  f.device->Receive(std::string("\x01\x02\x03\x04\xFE\xFF", 6));
  EXPECT_EQ(f.port.ReadDWord(), 0x04030201u);
  EXPECT_EQ(f.port.ReadWord(), 0xFFFEu);
}

TEST(ComportTransfer, WriteLineMakesTwoWritesWithTheirEvents) {
  TransferRecorder r;
  OpenFakePort f;
  r.Attach(f.port);
  f.port.WriteLine("X");
  f.port.WaitForWriteCompletion();
  EXPECT_EQ(f.device->Written(), "X\r");
  ASSERT_EQ(r.events.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(r.events[i].name, i % 2 == 0 ? "BeforeWrite" : "AfterWrite");
    EXPECT_EQ(r.events[i].length, 1);
    EXPECT_FALSE(r.events[i].wait);
  }
}

TEST(ComportTransfer, ReadStringOfAnEmptyQueueStillFiresTheReadEvents) {
  TransferRecorder r;
  OpenFakePort f;
  r.Attach(f.port);
  EXPECT_EQ(f.port.ReadString(), "");
  EXPECT_EQ(r.events, (std::vector<TransferEvent>{{"BeforeRead", nullptr, 0, true}, {"AfterRead", nullptr, 0, true}}));
  EXPECT_EQ(f.device->Calls(Op::ReadFile), 0);

  f.device->Receive("abc");
  EXPECT_EQ(f.port.ReadString(), "abc");
  EXPECT_EQ(f.port.ReadBytes(), TBytes{});
}

TEST(ComportTransfer, NonWaitingWritesGoOutInOrderEachAfterTheOneBefore) {
  OpenFakePort f;
  f.device->HoldWrites(true);
  f.port.WriteString("one");
  EXPECT_TRUE(f.port.WritePending());

  // The second write first waits for the first one to end.
  std::thread driver([&] {
    while (f.device->Calls(Op::GetOverlappedResult) == 0) std::this_thread::yield();
    f.device->ReleaseWrites();
  });
  f.port.WriteString("two");
  driver.join();
  EXPECT_EQ(f.device->Written(), "one");
  EXPECT_TRUE(f.port.WritePending());
  f.device->ReleaseWrites();
  f.port.WaitForWriteCompletion();
  EXPECT_EQ(f.device->Written(), "onetwo");
  EXPECT_FALSE(f.port.WritePending());
}

TEST(ComportTransfer, BadLengthsAndNullBuffersAreRefusedBeforeAnything) {
  // A negative length is the component's own error; a null buffer with bytes
  // to move is the system's "invalid argument", for waiting and non-waiting
  // reads and writes alike (a non-waiting write once copied from it).
  struct Case {
    const char* what;
    bool nullBuffer;
    int length;
    int code;
  };
  const Case cases[] = {{"negative length", false, -1, 0}, {"null buffer", true, 3, platform::kErrorInvalidParameter}};
  QTemporaryDir dir;
  TransferRecorder r;
  OpenFakePort f;
  f.port.SetLogFile(dir.filePath("port.log"));
  r.Attach(f.port);
  char buffer[4] = {};
  for (const Case& c : cases) {
    for (const bool read : {true, false}) {
      for (const bool wait : {true, false}) {
        SCOPED_TRACE(std::string(c.what) + (read ? ", read" : ", write") + (wait ? ", waiting" : ""));
        char* data = c.nullBuffer ? nullptr : buffer;
        const EComError e = CatchComError([&] {
          if (read)
            f.port.Read(data, c.length, wait);
          else
            f.port.Write(data, c.length, wait);
        });
        EXPECT_EQ(e.ComErrorCode, c.code);
        if (c.length < 0) EXPECT_NE(std::string(e.what()).find("-1"), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_TRUE(r.events.empty());
  for (const Op op : f.device->CallLog()) EXPECT_TRUE(op != Op::ReadFile && op != Op::WriteFile);
  EXPECT_FALSE(QFile::exists(dir.filePath("port.log")));
}

// Exposes the length check of the writes that take a whole string or byte
// array (a string past it would need more than 2 GiB of memory here).
struct LengthCheckingPort : TComPort {
  using TCustomComPort::TransferLength;
};

TEST(ComportTransfer, AStringLongerThanTheLargestTransferLengthRaisesInsteadOfWrapping) {
  LengthCheckingPort port;
  EXPECT_EQ(port.TransferLength(0), 0);
  EXPECT_EQ(port.TransferLength(INT_MAX), INT_MAX);
  // Past INT_MAX, and sizes that would wrap to a negative or a small length.
  for (const size_t size : {size_t{INT_MAX} + 1, size_t{1} << 32, (size_t{1} << 32) + 5}) {
    const EComError e = CatchComError([&] { port.TransferLength(size); });
    EXPECT_EQ(e.ComErrorCode, 0);
    EXPECT_NE(std::string(e.what()).find(std::to_string(size)), std::string::npos) << e.what();
  }
}

TEST(ComportTransfer, ClosedPortsRaiseTheStatusCallsErrorOrTheClosedPortError) {
  TComPort port;
  const EComError count = CatchComError([&] { port.InputCount(); });
  EXPECT_EQ(count.ComErrorCode, platform::kErrorInvalidHandle);
  EXPECT_EQ(count.what(), platform::SystemErrorMessage(platform::kErrorInvalidHandle));
  EXPECT_EQ(CatchComError([&] { port.OutputCount(); }).ComErrorCode, platform::kErrorInvalidHandle);
  for (const auto& op :
       std::vector<std::function<void()>>{[&] { port.ReadString(); }, [&] { port.WriteString("x"); },
                                          [&] { port.WaitForReadCompletion(); }, [&] { port.CheckLineErrors(); }}) {
    const EComError e = CatchComError(op);
    EXPECT_EQ(e.ComErrorCode, 0);
    EXPECT_EQ(e.what(), kClosedPortError);
  }
  EXPECT_FALSE(port.ReadPending());
  EXPECT_FALSE(port.WritePending());
}

TEST(ComportTransfer, LineErrorsAreReportedOnceByWhicheverCallFetchesThem) {
  std::vector<TLineErrors> reported;
  OpenFakePort f;
  f.port.SetOnLineError(TLineErrorEvent::Bind([&](TObject*, TLineErrors e) { reported.push_back(e); }));
  f.device->AddLineErrors(platform::CE_RXPARITY);
  f.device->Receive("ab");
  EXPECT_EQ(f.port.InputCount(), 2);
  EXPECT_EQ(reported, std::vector<TLineErrors>{leParity});
  f.device->SetOutputQueue(7);
  EXPECT_EQ(f.port.OutputCount(), 7);
  f.device->AddLineErrors(platform::CE_OVERRUN);
  f.port.ReadString();  // its completion checks fetch them
  EXPECT_EQ(reported, (std::vector<TLineErrors>{leParity, leOverrun}));
  f.device->AddLineErrors(platform::CE_FRAME);
  f.port.ClearLineErrors();
  f.port.CheckLineErrors();
  EXPECT_EQ(reported.size(), 2u);
}

TEST(ComportTransfer, WaitingAndNonWaitingReadsAreLogged) {
  QTemporaryDir dir;
  const QString log = dir.filePath("port.log");
  OpenFakePort f;
  f.port.SetLogFile(log);
  f.device->Receive("HELLO");
  char buffer[8] = {};
  f.port.Read(buffer, 5, true);
  EXPECT_EQ(LogEntries(log),
            (std::vector<std::string>{"Read request 5 byte(s)", "Read complete $48, $45, $4C, $4C, $4F"}));

  // A non-waiting read is logged complete by the next check of its
  // direction.
  f.port.Read(buffer, 3, false);
  EXPECT_TRUE(f.port.ReadPending());
  EXPECT_EQ(LogEntries(log).size(), 3u);
  f.device->Receive("abc");
  f.port.WaitForReadCompletion();
  EXPECT_EQ(LogEntries(log).back(), "Read complete $61, $62, $63");
  f.port.WaitForReadCompletion();  // logged once only
  EXPECT_EQ(LogEntries(log).size(), 4u);

  f.port.Write("AT\r", 3, true);
  EXPECT_EQ(LogEntries(log).back(), "Write complete $41, $54, $0D");
  f.port.Read(buffer, 0, true);  // length 0: no entries
  EXPECT_EQ(LogEntries(log).size(), 6u);
}

TEST(ComportTransfer, AFailedIssueLeavesNothingToWaitForOrLog) {
  QTemporaryDir dir;
  const QString log = dir.filePath("port.log");
  OpenFakePort f;
  f.port.SetLogFile(log);
  f.device->FailOnce(Op::ReadFile, EIO);
  auto* buffer = new char[4];
  EXPECT_EQ(CatchComError([&] { f.port.Read(buffer, 4, false); }).ComErrorCode, EIO);
  delete[] buffer;
  EXPECT_FALSE(f.port.ReadPending());
  f.port.WaitForReadCompletion();  // neither hangs nor logs a completion
  EXPECT_EQ(LogEntries(log), std::vector<std::string>{"Read request 4 byte(s)"});
}

TEST(ComportTransfer, AReadAbandonedByCloseIsNeverLoggedAfterwards) {
  QTemporaryDir dir;
  const QString log = dir.filePath("port.log");
  FakePort f;
  f.port.Open();
  auto* buffer = new char[4];
  f.port.Read(buffer, 4, false);
  EXPECT_TRUE(f.port.ReadPending());
  f.port.Close();
  delete[] buffer;
  EXPECT_FALSE(f.port.ReadPending());
  f.port.Open();
  f.port.SetLogFile(log);
  f.device->Receive("z");
  EXPECT_EQ(f.port.ReadString(), "z");
  EXPECT_EQ(LogEntries(log), (std::vector<std::string>{"Read request 1 byte(s)", "Read complete $7A"}));
}

TEST(ComportTransfer, Utf8DecodesByTheComponentsRules) {
  const std::pair<std::string, QString> cases[] = {
      {"", ""},
      {"A", "A"},
      {"\xC3\xA9", QString(QChar(0xE9))},
      {"\xE2\x82\xAC", QString(QChar(0x20AC))},
      {"\xF0\x9F\x98\x80", QString::fromUcs4(U"\U0001F600")},                 // a surrogate pair
      {"a\xED\xA0\xBD\xED\xB8\x80", "a" + QString::fromUcs4(U"\U0001F600")},  // pair sent unit by unit
      {"\xC3", ""},                                                           // ends inside a sequence
      {"ok\xE2\x82", ""},
      {"\xC3(", ""},  // a following byte of the wrong form
      {"\xF0\x9F\x98", ""},
      {"\xF4\x90\x80\x80", ""},  // beyond the last code point
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(TCustomComPort::DecodeUtf8(bytes), text) << bytes;
}

TEST(ComportTransfer, Utf8EncodesEachUnitSeparately) {
  EXPECT_EQ(TCustomComPort::EncodeUtf8(QString::fromUtf8("A\u00e9\u20ac")), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(TCustomComPort::EncodeUtf8(QString::fromUcs4(U"\U0001F600")), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(TCustomComPort::EncodeUtf8(""), "");
}

TEST(ComportTransfer, Utf8TransfersAndMalformedInputEmptiesTheQueue) {
  OpenFakePort f;
  f.port.WriteLineUtf8(QString::fromUtf8("\u00e9"));
  f.port.WaitForWriteCompletion();
  EXPECT_EQ(f.device->Written(), "\xC3\xA9\r");

  f.device->Receive("\xE2\x82\xAC\r");
  EXPECT_EQ(f.port.ReadLineUtf8(), QString::fromUtf8("\u20ac\r"));
  f.device->Receive("x\xC3");
  EXPECT_EQ(f.port.ReadUtf8(), "");
  EXPECT_EQ(f.port.InputCount(), 0);  // taken all the same
}

TEST(ComportOnPtyTransfer, ANonWaitingWriteSendsTheBytesOfTheTimeOfTheCall) {
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  port.Open();
  // More than the terminal takes at once, so the write stays pending while
  // the caller reuses its buffer.
  std::string buffer(256 * 1024, '\0');
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<char>('a' + i % 26);
  const std::string sent = buffer;
  port.Write(buffer.data(), static_cast<int>(buffer.size()), false);
  EXPECT_TRUE(port.WritePending());
  std::fill(buffer.begin(), buffer.end(), 'X');
  std::string received;
  std::thread farEnd([&] { received = pty.Receive(sent.size() + 1); });
  port.WriteString("!");  // waits for the first write, which the far end drains
  port.WaitForWriteCompletion();
  farEnd.join();
  EXPECT_EQ(received, sent + "!");
}

TEST(ComportOnPtyTransfer, AReadEndedByTheReadTimeoutsRaisesTimeout) {
  QTemporaryDir dir;
  const QString log = dir.filePath("port.log");
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  port.Timeouts()->SetReadConstant(200);
  port.Open();
  port.SetLogFile(log);
  pty.Send("ab");
  char buffer[4] = {};
  const EComError e = CatchComError([&] { port.Read(buffer, 4, true); });
  EXPECT_EQ(e.ComErrorCode, 0);
  EXPECT_STREQ(e.what(), "Timeout");
  EXPECT_EQ(std::string(buffer, 2), "ab");
  EXPECT_EQ(LogEntries(log), std::vector<std::string>{"Read request 4 byte(s)"});
  EXPECT_EQ(CatchComError([&] { port.ReadLine(); }).what(), std::string("Timeout"));
}

// With reads that return at once (the interval at its maximum, no totals),
// a typed read that gets fewer bytes than it needs raises "Timeout" rather
// than returning bytes that never came or collecting nothing for ever.
TEST(ComportOnPtyTransfer, TypedReadsShortOfTheirBytesRaiseTimeoutWhenReadsReturnAtOnce) {
  if (PtyPair::IsStandIn())
    GTEST_SKIP() << "the reads ahead that wait for a terminal under Wine take no reads that return at once";
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  port.Timeouts()->SetReadInterval(-1);
  port.Open();
  struct Case {
    const char* name;
    std::string arriving;
    std::function<void()> read;
  };
  // The reads up to a terminator come last: unfixed, they never return.
  const Case cases[] = {
      {"word from an empty queue", "", [&] { port.ReadWord(); }},
      {"character from an empty queue", "", [&] { port.ReadChar(); }},
      {"byte from an empty queue", "", [&] { port.ReadByte(); }},
      {"double word with half of it", "ab", [&] { port.ReadDWord(); }},
      {"line without its end", "ab", [&] { port.ReadLine(); }},
      {"bytes up to a terminator that does not come", "xy", [&] { port.ReadUntilBytes('z'); }},
      {"text line without its end", "\xC3\xA9", [&] { port.ReadLineUtf8(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.arriving.empty()) {
      pty.Send(c.arriving);
      ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == static_cast<int>(c.arriving.size()); }));
    }
    const EComError e = CatchComError(c.read);
    ASSERT_STREQ(e.what(), "Timeout");
    EXPECT_EQ(e.ComErrorCode, 0);
    EXPECT_EQ(port.InputCount(), 0);  // what came was taken
  }
  // Bytes that are there are read as ever.
  pty.Send("AB");
  ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 2; }));
  EXPECT_EQ(port.ReadWord(), 0x4241);
}
