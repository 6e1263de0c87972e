// Data transfer: Read and Write with their completion checks, the queue
// counters, and the typed operations built on them (characters, words,
// strings, lines, UTF-8 text, byte arrays, reads up to a terminator).
//
// Every read takes its bytes straight from the driver's queue into the
// caller's buffer; the component keeps no receive buffer of its own.
#include <QScopeGuard>
#include <cerrno>
#include <climits>
#include <utility>

#include "comport/Comport.h"
#include "framework/Application.h"
#include "platform/LastError.h"

namespace {

constexpr char kCR = '\r';

// Marks a direction idle again when issuing its transfer fails (or its log
// entry cannot be written): the event is set again and the pending count
// cleared, so a later completion check neither waits for a transfer that
// never started nor logs it from a buffer that may be gone.
class IssueGuard {
 public:
  IssueGuard(platform::Event& event, int32_t& pendingLength) : event_(event), pendingLength_(pendingLength) {}
  ~IssueGuard() {
    if (armed_) {
      pendingLength_ = 0;
      event_.Set();
    }
  }
  IssueGuard(const IssueGuard&) = delete;
  IssueGuard& operator=(const IssueGuard&) = delete;
  void Issued() { armed_ = false; }

 private:
  platform::Event& event_;
  int32_t& pendingLength_;
  bool armed_ = true;
};

}  // namespace

// ---- core transfers ---------------------------------------------------------------

void TCustomComPort::Read(void* buffer, int length, bool wait) { IssueRead(buffer, length, wait, false); }

void TCustomComPort::ReadWhole(void* buffer, int length) { IssueRead(buffer, length, true, true); }

void TCustomComPort::CheckTransfer(const void* buffer, int length) {
  CheckActive();
  if (length < 0) RaiseError(0, "Invalid transfer length " + std::to_string(length));
  if (buffer == nullptr && length > 0) {
    // The system's answer to a transfer without a buffer, for every kind of
    // transfer alike, before any handler, log entry or copy reads from it.
    platform::SetLastError(platform::kErrorInvalidParameter);
    Check(false);
  }
}

void TCustomComPort::IssueRead(void* buffer, int length, bool wait, bool whole) {
  CheckTransfer(buffer, length);
  if (FBeforeRead) FBeforeRead(this, buffer, length, wait);
  WaitForReadCompletion();
  FReadLength = length;
  FReadBuffer = buffer;
  FReadWhole = whole;
  if (length != 0) {
    FReadOverlapped = platform::Overlapped{};
    FReadOverlapped.hEvent = FReadEvent.get();
    FReadEvent->Reset();
    {
      IssueGuard guard(*FReadEvent, FReadLength);
      if (Log()) WriteLog(QStringLiteral("Read request %1 byte(s)").arg(length));
      Check(FDeviceHandle->ReadFile(buffer, static_cast<uint32_t>(length), FReadOverlapped));
      guard.Issued();
    }
    if (wait) WaitForReadCompletion();
  }
  if (FAfterRead) FAfterRead(this, buffer, length, wait);
}

void TCustomComPort::Write(const void* buffer, int length, bool wait) {
  CheckTransfer(buffer, length);
  ++FWritesUnderWay;
  auto ended = qScopeGuard([this] { --FWritesUnderWay; });
  if (FBeforeWrite) FBeforeWrite(this, buffer, length, wait);
  WaitForWriteCompletion();
  FWriteLength = length;
  FWriteBuffer = buffer;
  if (length != 0) {
    FWriteOverlapped = platform::Overlapped{};
    FWriteOverlapped.hEvent = FWriteEvent.get();
    FWriteEvent->Reset();
    {
      IssueGuard guard(*FWriteEvent, FWriteLength);
      if (Log()) WriteLog(QStringLiteral("Write request "), buffer, length);
      if (!wait) {
        // The caller's buffer is free once this returns: the driver gets a
        // copy, which lives until the next non-waiting write.
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        FWriteCopy.assign(bytes, bytes + length);
        FWriteBuffer = FWriteCopy.data();
      }
      Check(FDeviceHandle->WriteFile(FWriteBuffer, static_cast<uint32_t>(length), FWriteOverlapped));
      guard.Issued();
    }
    if (wait) WaitForWriteCompletion();
  }
  // Ended before AfterWrite, whose handler may destroy the port.
  ended.dismiss();
  --FWritesUnderWay;
  if (FAfterWrite) FAfterWrite(this, buffer, length, wait);
}

// ---- completion checks and queue state ------------------------------------------

void TCustomComPort::WaitForCompletion(platform::Overlapped& overlapped, const std::unique_ptr<platform::Event>& event,
                                       int32_t& pendingLength, bool whole, const void* buffer,
                                       const char* completeText) {
  // A transfer still in progress is waited for and its count compared; one
  // that must move every byte is compared also when it ended at once.
  if (event && (!event->IsSet() || (whole && pendingLength > 0))) {
    uint32_t transferred = 0;
    if (!FDeviceHandle->GetOverlappedResult(overlapped, transferred, true)) {
      pendingLength = 0;
      Check(false);
    } else if (transferred != static_cast<uint32_t>(pendingLength)) {
      pendingLength = 0;
      RaiseError(0, "Timeout");
    }
  }
  CheckLineErrors();
  if (pendingLength > 0 && Log()) {
    // The transfer is over and its bytes are the caller's: a log entry that
    // cannot be written must not discard them (a read's bytes have left the
    // queue, a write's are on the line). Its error is shown once the call
    // has returned, through the application's exception display.
    try {
      WriteLog(QString::fromLatin1(completeText), buffer, pendingLength);
    } catch (...) {
      TApplication::QueueException(std::current_exception());
    }
  }
  pendingLength = 0;
}

void TCustomComPort::WaitForReadCompletion() {
  WaitForCompletion(FReadOverlapped, FReadEvent, FReadLength, FReadWhole, FReadBuffer, "Read complete ");
}

void TCustomComPort::WaitForWriteCompletion() {
  WaitForCompletion(FWriteOverlapped, FWriteEvent, FWriteLength, false, FWriteBuffer, "Write complete ");
}

bool TCustomComPort::ReadPending() const { return FReadEvent && !FReadEvent->IsSet(); }

bool TCustomComPort::WritePending() const { return FWriteEvent && !FWriteEvent->IsSet(); }

void TCustomComPort::ForgetTransfers() {
  // Closing the device ended both transfers; their completions are never
  // logged, so no later check reads a caller's buffer that may be gone.
  FReadLength = 0;
  FReadBuffer = nullptr;
  FWriteLength = 0;
  FWriteBuffer = nullptr;
}

namespace {

int ClampedCount(uint32_t count) { return count > INT_MAX ? INT_MAX : static_cast<int>(count); }

}  // namespace

platform::COMSTAT TCustomComPort::QueueStatus() {
  uint32_t errors = 0;
  platform::COMSTAT status;
  if (IsOpen()) {
    Check(FDeviceHandle->ClearCommError(errors, &status));
  } else {
    // The status call of a closed port fails as a closed device does.
    platform::SetLastError(platform::kErrorInvalidHandle);
    Check(false);
  }
  if (errors != 0 && FOnLineError) FOnLineError(this, GetLineErrors(errors));
  return status;
}

int TCustomComPort::InputCount() { return ClampedCount(QueueStatus().cbInQue); }

int TCustomComPort::OutputCount() { return ClampedCount(QueueStatus().cbOutQue); }

// ---- fixed-size values --------------------------------------------------------------

char TCustomComPort::ReadAnsiChar() {
  char value = 0;
  ReadWhole(&value, 1);
  return value;
}

char TCustomComPort::ReadChar() { return ReadAnsiChar(); }

uint8_t TCustomComPort::ReadByte() {
  uint8_t value = 0;
  ReadWhole(&value, 1);
  return value;
}

uint16_t TCustomComPort::ReadWord() {
  uint8_t bytes[2] = {};
  ReadWhole(bytes, 2);
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t TCustomComPort::ReadDWord() {
  uint8_t bytes[4] = {};
  ReadWhole(bytes, 4);
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void TCustomComPort::WriteAnsiChar(char value) { Write(&value, 1, false); }
void TCustomComPort::WriteChar(char value) { WriteAnsiChar(value); }
void TCustomComPort::WriteByte(uint8_t value) { Write(&value, 1, false); }

void TCustomComPort::WriteWord(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  Write(bytes, 2, false);
}

void TCustomComPort::WriteDWord(uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  Write(bytes, 4, false);
}

// ---- whole-queue reads and plain writes ---------------------------------------------

std::string TCustomComPort::ReadAnsiString() {
  WaitForReadCompletion();
  const int count = InputCount();
  std::string result;
  if (count == 0) {
    Read(nullptr, 0, true);  // both read events still fire
    return result;
  }
  result.resize(static_cast<size_t>(count));
  Read(result.data(), count, true);
  return result;
}

std::string TCustomComPort::ReadString() { return ReadAnsiString(); }

TBytes TCustomComPort::ReadBytes() {
  const int count = InputCount();
  TBytes result(static_cast<size_t>(count));
  Read(count == 0 ? nullptr : result.data(), count, true);
  return result;
}

QString TCustomComPort::ReadUtf8() { return DecodeUtf8(ReadAnsiString()); }

int TCustomComPort::TransferLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX))
    RaiseError(0, "A transfer of " + std::to_string(size) + " bytes exceeds the largest transfer length of " +
                      std::to_string(INT_MAX) + " bytes");
  return static_cast<int>(size);
}

void TCustomComPort::WriteAnsiString(const std::string& text) {
  Write(text.data(), TransferLength(text.size()), false);
}

void TCustomComPort::WriteString(const std::string& text) { WriteAnsiString(text); }

void TCustomComPort::WriteBytes(const TBytes& bytes) { Write(bytes.data(), TransferLength(bytes.size()), false); }

void TCustomComPort::WriteUtf8(const QString& text) { WriteAnsiString(EncodeUtf8(text)); }

// ---- reads up to a terminator and lines ----------------------------------------------

std::string TCustomComPort::ReadAnsiUntil(char terminator) {
  std::string result;
  for (;;) {
    const char c = ReadAnsiChar();
    result.push_back(c);
    if (c == terminator) return result;
  }
}

std::string TCustomComPort::ReadUntil(char terminator) { return ReadAnsiUntil(terminator); }

TBytes TCustomComPort::ReadUntilBytes(uint8_t terminator) {
  TBytes result;
  for (;;) {
    const uint8_t b = ReadByte();
    result.push_back(b);
    if (b == terminator) return result;
  }
}

QString TCustomComPort::ReadUntilUtf8(uint8_t terminator) {
  return DecodeUtf8(ReadAnsiUntil(static_cast<char>(terminator)));
}

std::string TCustomComPort::ReadAnsiLine() { return ReadAnsiUntil(kCR); }
std::string TCustomComPort::ReadLine() { return ReadUntil(kCR); }
TBytes TCustomComPort::ReadLineBytes() { return ReadUntilBytes(static_cast<uint8_t>(kCR)); }
QString TCustomComPort::ReadLineUtf8() { return ReadUntilUtf8(static_cast<uint8_t>(kCR)); }

void TCustomComPort::WriteAnsiLine(const std::string& text) {
  WriteAnsiString(text);
  WriteAnsiChar(kCR);
}

void TCustomComPort::WriteLine(const std::string& text) {
  WriteString(text);
  WriteChar(kCR);
}

void TCustomComPort::WriteLineBytes(const TBytes& bytes) {
  WriteBytes(bytes);
  WriteAnsiChar(kCR);
}

void TCustomComPort::WriteLineUtf8(const QString& text) {
  WriteUtf8(text);
  WriteAnsiChar(kCR);
}

// ---- UTF-8 ----------------------------------------------------------------------------

QString TCustomComPort::DecodeUtf8(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  const size_t size = bytes.size();
  size_t i = 0;
  // The byte at 'at' continues a sequence (10xxxxxx); false past the end.
  auto continuation = [&](size_t at) { return at < size && (static_cast<uint8_t>(bytes[at]) & 0xC0) == 0x80; };
  auto bits = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) & 0x3F); };
  while (i < size) {
    const uint32_t lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x80) {
      text.append(QChar(static_cast<char16_t>(lead)));
      i += 1;
    } else if ((lead & 0xF8) == 0xF0) {
      // Four bytes: a code point beyond the 16-bit range, as a surrogate pair.
      if (!continuation(i + 1) || !continuation(i + 2) || !continuation(i + 3)) return {};
      const uint32_t code = (lead & 0x07) << 18 | bits(i + 1) << 12 | bits(i + 2) << 6 | bits(i + 3);
      if (code < 0x10000 || code > 0x10FFFF) return {};
      text.append(QChar(QChar::highSurrogate(code)));
      text.append(QChar(QChar::lowSurrogate(code)));
      i += 4;
    } else if (lead & 0x20) {
      if (!continuation(i + 1) || !continuation(i + 2)) return {};
      text.append(QChar(static_cast<char16_t>((lead & 0x0F) << 12 | bits(i + 1) << 6 | bits(i + 2))));
      i += 3;
    } else {
      if (!continuation(i + 1)) return {};
      text.append(QChar(static_cast<char16_t>((lead & 0x1F) << 6 | bits(i + 1))));
      i += 2;
    }
  }
  return text;
}

std::string TCustomComPort::EncodeUtf8(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()) * 3);
  for (const QChar c : text) {
    const char16_t unit = c.unicode();
    if (unit < 0x80) {
      bytes.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | unit >> 6));
      bytes.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xE0 | unit >> 12));
      bytes.push_back(static_cast<char>(0x80 | (unit >> 6 & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  return bytes;
}
