// The port's life: construction with all defaults, Active, opening and
// closing the device with their events, the open/closed guards, the settings
// that only change on a closed port, and the queue operations.
#include <QFile>
#include <cerrno>

#include "comport/Comport.h"
#include "platform/DeviceNames.h"
#include "platform/LastError.h"
#include "platform/ProcessPriority.h"

namespace {

// Process priority classes by TPriorityClass ordinal.
constexpr uint32_t kPriorityClasses[] = {0, 0x40, 0x20, 0x80, 0x100};

}  // namespace

TCustomComPort::TCustomComPort(QObject* owner)
    : TComponent(owner), FDeviceName(QStringLiteral("COM1")), FDeviceFactory(platform::OpenSerialDevice) {
  FFlowControl = std::make_unique<TFlowControl>(this);
  FCharacters = std::make_unique<TCharacters>(this);
  FBufferSizes = std::make_unique<TBufferSizes>(this);
  FTimeouts = std::make_unique<TTimeouts>(this);
}

TCustomComPort::~TCustomComPort() {
  // Going with the owner, the port closes without calling a handler: they
  // are normally methods of the owner, whose own members are gone already.
  // These are the ones a close calls (a queued batch of line events is
  // dropped with the event thread).
  if (Destroying()) {
    FBeforeClose = nullptr;
    FAfterClose = nullptr;
    SetOnError(nullptr);
  }
  // No device notice reaches a port that is going.
  StopNotification();
  // Nobody can receive an error raised now (a BeforeClose handler, an
  // unwritable log): the device is released all the same.
  try {
    Close();
  } catch (...) {
    FreeHandle();
  }
  FTimeouts.reset();
  FBufferSizes.reset();
  FCharacters.reset();
  FFlowControl.reset();
}

QString TCustomComPort::About() const { return QStringLiteral("TComPort serial port component 1.0"); }

// ---- Active ----------------------------------------------------------------

bool TCustomComPort::Active() const {
  if (Designing()) return FRecordedActive;
  return IsOpen();
}

void TCustomComPort::SetActive(bool value) {
  if (value != Active() && !Designing() && !Loading()) {
    if (value)
      Open();
    else
      Close();
  }
  // Reached only when opening or closing did not raise.
  FRecordedActive = value;
}

void TCustomComPort::Loaded() {
  TComponent::Loaded();
  SetActive(FRecordedActive);
}

// ---- guards and settings of a closed port ------------------------------------

void TCustomComPort::CheckActive() {
  // The device decides, not the recorded state: a design-time instance
  // recorded as active has none.
  if (!IsOpen()) RaiseError(0, "Can't perform this operation on a closed port");
}

void TCustomComPort::CheckInactive() {
  if (!Designing() && Active()) RaiseError(0, "Can't perform this operation on an open port");
}

void TCustomComPort::SetDeviceName(const QString& value) {
  if (value == FDeviceName) return;
  CheckInactive();
  FDeviceName = value;
}

void TCustomComPort::SetSynchronizeEvents(bool value) {
  if (value == FSynchronizeEvents) return;
  CheckInactive();
  FSynchronizeEvents = value;
}

void TCustomComPort::SetPriorityClass(TPriorityClass value) {
  if (value == FPriorityClass) return;
  CheckInactive();
  FPriorityClass = value;
}

void TCustomComPort::SetThreadPriority(TThreadPriority value) {
  if (value == FThreadPriority) return;
  FThreadPriority = value;
  if (!FEventLink) return;
  // Under the link's lock the thread cannot free itself meanwhile.
  std::lock_guard lock(FEventLink->Mutex);
  if (FEventLink->Thread != nullptr) FEventLink->Thread->SetPriority(value);
}

void TCustomComPort::SetDeviceFactory(TDeviceFactory factory) {
  FDeviceFactory = factory ? std::move(factory) : TDeviceFactory(platform::OpenSerialDevice);
}

// ---- opening and closing ---------------------------------------------------

void TCustomComPort::Open() {
  // A design-time instance never touches a device.
  if (IsOpen() || Designing()) return;
  if (FBeforeOpen) FBeforeOpen(this);
  CreateHandle();
  if (IsOpen() && Log()) WriteLog("Open " + FDeviceName);
  if (IsOpen() && FAfterOpen) FAfterOpen(this);
}

void TCustomComPort::Close() {
  // A close requested on the event thread (a handler running there, or the
  // thread after its wait failed) runs whole on the user-interface thread,
  // which owns the device's life; the caller waits for it.
  if (OnOwnEventThread()) {
    TThread::Synchronize([this] { Close(); });
    return;
  }
  if (!IsOpen()) return;
  if (FBeforeClose) FBeforeClose(this);
  FreeHandle();
  if (Log()) WriteLog("Close " + FDeviceName);
  if (!IsOpen() && FAfterClose) FAfterClose(this);
}

void TCustomComPort::CreateHandle() {
  FreeHandle();
  try {
    // The result is not tested: a class the system refuses, or one the
    // process could not leave again, leaves the priority as it was.
    if (FPriorityClass != pcDefault)
      FSavedPriorityClass = platform::ChangeProcessPriorityClass(kPriorityClasses[FPriorityClass]);
    platform::SetLastError(0);
    // Event objects cannot fail short of memory, which raises on its own.
    FEventOverlapped = platform::Overlapped{};
    FEventOverlappedEvent = std::make_unique<platform::Event>(false, false);
    FEventOverlapped.hEvent = FEventOverlappedEvent.get();
    FReadEvent = std::make_unique<platform::Event>(true, true);
    FWriteEvent = std::make_unique<platform::Event>(true, true);

    // A NUL would cut the name short and open another device.
    // (Taken as bytes: a round trip through text could drop the NUL.)
    const std::string path = platform::DevicePath(SystemName(FDeviceName), SystemName(FDevRoot));
    if (path.find('\0') != std::string::npos) {
      platform::SetLastError(platform::kErrorInvalidParameter);
      Check(false);
    }
    FDeviceHandle = FDeviceFactory(path);
    if (FDeviceHandle == nullptr) {
      // No device is always a failure, also from a factory that left no
      // error code (or the "queued" one, which Check passes over).
      const int code = platform::GetLastError();
      platform::SetLastError(code == 0 || code == platform::kErrorIoPending ? platform::kErrorNoDevice : code);
      Check(false);
    }

    PurgeInput();
    PurgeOutput();
    SetComBufferSizes();
    SetComDCB();
    SetComTimeouts();
    SetComEventMask();
  } catch (...) {
    FreeHandle();
    throw;
  }
}

QString TCustomComPort::DevicePath() const {
  // Byte strings with their sizes: a NUL in the name stays for the open to
  // refuse.
  const std::string path = platform::DevicePath(SystemName(FDeviceName), SystemName(FDevRoot));
  return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string TCustomComPort::SystemName(const QString& name) {
  // Each part between NULs on its own, joined by the NULs again.
  std::string result;
  const QStringList parts = name.split(QChar(0));
  for (qsizetype i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '\0';
    result += QFile::encodeName(parts[i]).toStdString();
  }
  return result;
}

void TCustomComPort::FreeHandle() {
  // A batch that a stopped thread still holds is dropped from now on.
  if (FOpenSession) {
    FOpenSession->Port.store(nullptr, std::memory_order_release);
    FOpenSession.reset();
  }
  DestroyThread();
  FHeldEvents = 0;
  if (FDeviceHandle) {
    FDeviceHandle->Close();
    FDeviceHandle.reset();
  }
  FWriteEvent.reset();
  FReadEvent.reset();
  FEventOverlapped.hEvent = nullptr;
  FEventOverlappedEvent.reset();
  ForgetTransfers();
  if (FSavedPriorityClass) {
    platform::RestoreProcessPriority(*FSavedPriorityClass);
    FSavedPriorityClass.reset();
  }
}

// ---- queue operations ------------------------------------------------------

void TCustomComPort::Purge(uint32_t flags) {
  if (!IsOpen()) return;
  Check(FDeviceHandle->PurgeComm(flags));
}

void TCustomComPort::PurgeInput() { Purge(platform::PURGE_RXABORT | platform::PURGE_RXCLEAR); }
void TCustomComPort::PurgeOutput() { Purge(platform::PURGE_TXABORT | platform::PURGE_TXCLEAR); }
void TCustomComPort::ClearInput() { Purge(platform::PURGE_RXCLEAR); }
void TCustomComPort::ClearOutput() { Purge(platform::PURGE_TXCLEAR); }
void TCustomComPort::AbortInput() { Purge(platform::PURGE_RXABORT); }
void TCustomComPort::AbortOutput() { Purge(platform::PURGE_TXABORT); }

void TCustomComPort::Flush() {
  if (!IsOpen()) return;
  Check(FDeviceHandle->FlushFileBuffers());
}
