// Errors of the component and its log file.
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "ComportTestSupport.h"
#include "framework/Application.h"
#include "platform/LastError.h"
#include "platform/LogFile.h"

using namespace comporttest;

namespace {

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// The stamp of an entry written at 'when', formatted here rather than by
// the component: the system locale's short date and long time, the time
// zone's name taken out of the text, no time at midnight.
QString ExpectedStamp(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  QString stamp = locale.toString(when.date(), QLocale::ShortFormat);
  if (when.time() == QTime(0, 0)) return stamp;
  QString time = locale.toString(when, locale.timeFormat(QLocale::LongFormat));
  const QString zone = when.timeZoneAbbreviation();
  if (!zone.isEmpty()) time.remove(zone);
  return stamp + ' ' + time.replace("  ", " ").trimmed();
}

// The lines of a log file, each with its CR LF, split off their stamps.
// A stamp must be the one of a second between the times just before and
// after writing.
QStringList Entries(const QByteArray& log, const QDateTime& before, const QDateTime& after) {
  QStringList stamps;
  QDateTime second = before.addMSecs(-before.time().msec());
  for (; second <= after; second = second.addSecs(1)) stamps << ExpectedStamp(second);
  QStringList entries;
  const QString text = QString::fromLocal8Bit(log);
  for (QString line : text.split("\r\n")) {
    if (line.isEmpty()) continue;
    bool matched = false;
    for (const QString& stamp : stamps) {
      if (line.startsWith(stamp + ' ')) {
        entries << line.mid(stamp.size() + 1);
        matched = true;
        break;
      }
    }
    if (!matched) ADD_FAILURE() << "line without the stamp of its time: " << line.toStdString();
  }
  return entries;
}

}  // namespace

TEST(ComportErrors, CheckRaisesOnlyForRealErrorCodes) {
  TComPort port;
  platform::SetLastError(platform::kErrorInvalidHandle);
  EXPECT_NO_THROW(port.Check(true));  // the last error is not even looked at

  for (int code : {0, platform::kErrorIoPending}) {
    platform::SetLastError(code);
    EXPECT_NO_THROW(port.Check(false)) << code;
  }

  for (int code : {platform::kErrorInvalidParameter, platform::kErrorInvalidHandle, platform::kErrorNoDevice}) {
    platform::SetLastError(code);
    try {
      port.Check(false);
      ADD_FAILURE() << "no error for " << code;
    } catch (const EComError& e) {
      EXPECT_EQ(e.ComErrorCode, code);
      const std::string message = e.what();
      EXPECT_EQ(message, platform::SystemErrorMessage(code));
      ASSERT_FALSE(message.empty());
      EXPECT_NE(message.back(), '.');
      EXPECT_NE(message.back(), ' ');
      EXPECT_NE(message.back(), '\n');
    }
    EXPECT_EQ(platform::GetLastError(), 0);
  }
}

TEST(ComportErrors, OnErrorSeesTheErrorAndMayTurnItIntoASilentAbort) {
  TComPort port;
  const EComError* shown = nullptr;
  TComAction onEntry = caAbort;
  TComAction decision = caFail;
  TCustomComPort* sender = nullptr;
  port.SetOnError(TComErrorEvent::Bind([&](TCustomComPort* p, EComError& e, TComAction& action) {
    sender = p;
    shown = &e;
    onEntry = action;
    action = decision;
  }));

  // Left alone: the very object the handler saw propagates.
  try {
    port.RaiseError(7, "Seven");
    ADD_FAILURE() << "no error";
  } catch (EComError& e) {
    EXPECT_EQ(&e, shown);
    EXPECT_EQ(e.ComErrorCode, 7);
    EXPECT_STREQ(e.what(), "Seven");
  }
  EXPECT_EQ(sender, &port);
  EXPECT_EQ(onEntry, caFail);

  // caAbort: EAbort, which a caller catching EComError does not see.
  decision = caAbort;
  bool sawComError = false;
  try {
    try {
      port.CheckActive();
    } catch (const EComError&) {
      sawComError = true;
    }
    ADD_FAILURE() << "no error";
  } catch (const EAbort& e) {
    EXPECT_STREQ(e.what(), "Operation aborted");
  }
  EXPECT_FALSE(sawComError);

  // A handler that raises replaces the error with its own.
  port.SetOnError(
      TComErrorEvent::Bind([](TCustomComPort*, EComError&, TComAction&) { throw std::runtime_error("handler"); }));
  EXPECT_THROW(port.RaiseError(1, "x"), std::runtime_error);
}

TEST(ComportErrors, ThreadErrorCodeIsRaisedWithItsSystemText) {
  TComPort port;
  port.ThreadErrorCode = platform::kErrorNoDevice;
  try {
    port.RaiseThreadError();
    FAIL() << "no error";
  } catch (const EComError& e) {
    EXPECT_EQ(e.ComErrorCode, platform::kErrorNoDevice);
    EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(platform::kErrorNoDevice));
  }
}

TEST(ComportLog, EntryTextAndDump) {
  QTemporaryDir dir;
  TComPort port;
  port.SetLogFile(dir.filePath("port.log"));
  const QDateTime before = QDateTime::currentDateTime();
  const unsigned char bytes[] = {0x41, 0x54, 0x0D, 0x00, 0xFF};
  port.WriteLog("Write request ", bytes, 3);
  port.WriteLog("Read complete ", bytes + 3, 2);
  port.WriteLog("Read complete ", bytes, 0);     // a count of 0: no dump
  port.WriteLog("Write complete ", nullptr, 3);  // no data: no dump
  port.WriteLog("Read request 12 byte(s)");
  const QDateTime after = QDateTime::currentDateTime();

  const QByteArray log = ReadFile(port.LogFile());
  EXPECT_TRUE(log.endsWith("\r\n"));
  EXPECT_EQ(Entries(log, before, after), (QStringList{"Write request $41, $54, $0D", "Read complete $00, $FF",
                                                      "Read complete ", "Write complete ", "Read request 12 byte(s)"}));
}

TEST(ComportLog, StampIsTheLocalShortDateAndLongTimeWithoutTheTimeAtMidnight) {
  const QLocale locale = QLocale::system();
  const QDate date(2026, 3, 4);
  const QString shortDate = locale.toString(date, QLocale::ShortFormat);
  EXPECT_EQ(TCustomComPort::LogTimeStamp(QDateTime(date, QTime(0, 0, 0))), shortDate);

  const QDateTime afternoon(date, QTime(13, 45, 27));
  const QString stamp = TCustomComPort::LogTimeStamp(afternoon);
  EXPECT_EQ(stamp, ExpectedStamp(afternoon));
  ASSERT_TRUE(stamp.startsWith(shortDate + ' '));
  EXPECT_TRUE(stamp.contains("45")) << stamp.toStdString();
  EXPECT_TRUE(stamp.contains("27")) << stamp.toStdString();
  EXPECT_EQ(stamp, stamp.trimmed());
  // A second past midnight keeps its time.
  EXPECT_NE(TCustomComPort::LogTimeStamp(QDateTime(date, QTime(0, 0, 1))), shortDate);
}

TEST(ComportLog, OpenAndCloseAreLoggedAndAnExistingFileIsAppendedTo) {
  QTemporaryDir dir;
  const QString path = dir.filePath("port.log");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("earlier\r\n");
  }
  FakePort f;
  f.port.SetDeviceName("COM2");
  f.port.SetLogFile(path);
  const QDateTime before = QDateTime::currentDateTime();
  f.port.Open();
  f.port.Close();
  f.port.Close();  // already closed: no entry
  const QDateTime after = QDateTime::currentDateTime();

  const QByteArray log = ReadFile(path);
  ASSERT_TRUE(log.startsWith("earlier\r\n"));
  EXPECT_EQ(Entries(log.mid(9), before, after), (QStringList{"Open COM2", "Close COM2"}));
}

TEST(ComportLog, AnUnwritableLogFileRaisesAClearErrorAndThePortStaysConsistent) {
  QTemporaryDir dir;
  const QString path = dir.filePath("missing/port.log");
  EventRecorder events;  // outlives the port, whose destruction may close it
  FakePort f;
  events.Attach(f.port);
  f.port.SetLogFile(path);

  // The code and text are the system's for a file in a missing folder.
  ASSERT_FALSE(platform::AppendLogEntry(QFile::encodeName(path).toStdString(), "x", 1));
  const int missing = platform::GetLastError();
  ASSERT_NE(missing, 0);
  try {
    f.port.Open();
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(path.toStdString()), std::string::npos) << message;
    EXPECT_NE(message.find(platform::SystemErrorMessage(missing)), std::string::npos) << message;
    EXPECT_EQ(e.ErrorCode, missing);
  }
  // Open, but AfterOpen was not reached.
  EXPECT_TRUE(f.port.Active());
  EXPECT_EQ(events.events, std::vector<std::string>{"BeforeOpen(closed)"});

  // The close releases the device first and raises afterwards.
  EXPECT_THROW(f.port.Close(), EInOutError);
  EXPECT_FALSE(f.port.Active());
  EXPECT_TRUE(f.device->IsClosed());

  ASSERT_TRUE(QDir(dir.path()).mkdir("missing"));
  f.port.Open();
  EXPECT_TRUE(f.port.Active());
  EXPECT_TRUE(ReadFile(path).contains("Open COM1\r\n"));
}

// A folder at the log's name is refused, on every system, and keeps
// nothing.
TEST(ComportLog, AFolderAtTheLogsNameIsRefused) {
  QTemporaryDir dir;
  const QString path = dir.filePath("port.log");
  ASSERT_TRUE(QDir(dir.path()).mkdir("port.log"));
  TComPort port;
  port.SetLogFile(path);
  try {
    port.WriteLog("entry");
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_NE(e.ErrorCode, 0);
    EXPECT_NE(std::string(e.what()).find("Cannot write the log file"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(QDir(path).isEmpty());
}
