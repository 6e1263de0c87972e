// Errors of the component (RaiseError, Check, RaiseThreadError) and its
// optional log file.
#include <QFile>
#include <QLocale>

#include "comport/Comport.h"
#include "platform/LastError.h"
#include "platform/LogFile.h"

void TCustomComPort::RaiseError(int code, const std::string& message) {
  try {
    throw EComError(code, message);
  } catch (EComError& error) {
    TComAction action = caFail;
    if (const TComErrorEvent handler = OnError()) handler(this, error, action);
    if (action == caAbort) throw EAbort();
    throw;  // the very object the handler was shown
  }
}

void TCustomComPort::Check(bool ok) {
  if (ok) return;
  const int code = platform::GetLastError();
  if (code == 0 || code == platform::kErrorIoPending) return;
  platform::SetLastError(0);
  RaiseError(code, platform::SystemErrorMessage(code));
}

void TCustomComPort::RaiseThreadError() {
  const int code = ThreadErrorCode;
  RaiseError(code, platform::SystemErrorMessage(code));
}

TComErrorEvent TCustomComPort::OnError() const {
  std::lock_guard lock(FSharedMutex);
  return FOnError;
}

void TCustomComPort::SetOnError(const TComErrorEvent& handler) {
  std::lock_guard lock(FSharedMutex);
  FOnError = handler;
}

QString TCustomComPort::LogFile() const {
  std::lock_guard lock(FSharedMutex);
  return FLogFile;
}

void TCustomComPort::SetLogFile(const QString& value) {
  std::lock_guard lock(FSharedMutex);
  FLogFile = value;
  FLogging.store(!value.isEmpty(), std::memory_order_release);
}

namespace {

// Drops the time-zone fields ("t") of a time format, with the blanks before
// them: a log line carries the local time only. Quoted text stays.
QString WithoutTimeZone(const QString& format) {
  QString result;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') {
      while (!result.isEmpty() && result.back() == u' ') result.chop(1);
      continue;
    }
    result += c;
  }
  return result.trimmed();
}

// The dump of data bytes: "$41, $54, $0D".
QByteArray HexDump(const void* data, int count) {
  QByteArray dump;
  if (data == nullptr || count <= 0) return dump;
  const auto* bytes = static_cast<const unsigned char*>(data);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  dump.reserve(count * 5);
  for (int i = 0; i < count; ++i) {
    if (i > 0) dump += ", ";
    dump += '$';
    dump += kDigits[bytes[i] >> 4];
    dump += kDigits[bytes[i] & 0x0F];
  }
  return dump;
}

[[noreturn]] void RaiseLogError(const QString& file, int code) {
  throw EInOutError("Cannot write the log file \"" + file.toStdString() + "\": " + platform::SystemErrorMessage(code),
                    code);
}

}  // namespace

QString TCustomComPort::LogTimeStamp(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  QString stamp = locale.toString(when.date(), locale.dateFormat(QLocale::ShortFormat));
  const QTime time = when.time();
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
    stamp += ' ' + locale.toString(time, WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
  return stamp;
}

void TCustomComPort::WriteLog(const QString& text, const void* data, int count) {
  if (!Log()) return;
  // The whole line goes out in one append, so lines written by two threads
  // at once never interleave.
  QByteArray line = (LogTimeStamp(QDateTime::currentDateTime()) + ' ' + text).toLocal8Bit();
  line += HexDump(data, count);
  line += "\r\n";

  const QString file = LogFile();
  if (file.isEmpty()) return;  // switched off meanwhile
  // A FIFO or a link planted at the log's name neither blocks nor receives
  // it, and a failed entry leaves no part of itself behind.
  if (!platform::AppendLogEntry(SystemName(file), line.constData(),
                                static_cast<std::size_t>(line.size())))
    RaiseLogError(file, platform::GetLastError());
}
