// The Windows serial device: opening and closing, the device control block,
// queue sizes, timeouts, purge and flush. Each is the system's own call on
// the comm device; the device control block, the timeouts and the queue
// counts have the system's layout.
#include <cstring>
#include <vector>

#include "platform/LastError.h"
#include "platform/windows/WindowsSerialDeviceInternal.h"

namespace platform {

static_assert(sizeof(::DCB) == sizeof(DCB), "the device control block has the system's layout");
static_assert(sizeof(::COMMTIMEOUTS) == sizeof(COMMTIMEOUTS));
static_assert(sizeof(OVERLAPPED) <= sizeof(Overlapped::System) && alignof(OVERLAPPED) <= 8);

namespace {

constexpr uint32_t kAllPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

}  // namespace

SerialDevicePtr OpenSerialDevice(const std::string& name) { return WindowsSerialDevice::Open(name); }

// ---- opening and closing -------------------------------------------------

std::shared_ptr<WindowsSerialDevice> WindowsSerialDevice::Open(const std::string& name) {
  // The name exactly as given; no sharing (the port is exclusive), never
  // creating anything, overlapped for the asynchronous requests.
  const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  auto refuse = [handle](DWORD code) -> std::shared_ptr<WindowsSerialDevice> {
    ::CloseHandle(handle);
    ::SetLastError(code);
    return nullptr;
  };
  // A file, a pipe or a device that is no comm device (NUL, a console) is
  // refused: only a character device whose driver keeps a device control
  // block is a serial port.
  if (::GetFileType(handle) != FILE_TYPE_CHAR)
    return refuse(ERROR_INVALID_FUNCTION);
  ::DCB probe{};
  probe.DCBlength = sizeof probe;
  if (!::GetCommState(handle, &probe)) {
    const DWORD code = ::GetLastError();
    return refuse(code != 0 ? code : ERROR_INVALID_FUNCTION);
  }
  ::COMMTIMEOUTS timeouts{};
  if (!::GetCommTimeouts(handle, &timeouts))
    return refuse(::GetLastError());
  // A driver that cannot read the modem lines cannot wait for events under
  // Wine; the device then waits by itself.
  DWORD lines = 0;
  const bool ownWaits = !::GetCommModemStatus(handle, &lines);
  std::shared_ptr<WindowsSerialDevice> device(new WindowsSerialDevice(handle, ownWaits));
  if (ownWaits && (device->wake_ == nullptr || device->aheadDone_ == nullptr))
    return nullptr;  // the destructor has closed the handle
  device->timeouts_ = timeouts;
  device->eventChar_.store(probe.EvtChar, std::memory_order_relaxed);
  return device;
}

WindowsSerialDevice::WindowsSerialDevice(HANDLE handle, bool ownWaits) : handle_(handle), ownWaits_(ownWaits) {
  if (ownWaits_) {
    wake_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    aheadDone_ = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
  }
}

WindowsSerialDevice::~WindowsSerialDevice() { Close(); }

void WindowsSerialDevice::Close() {
  const DWORD code = ::GetLastError();
  std::unique_lock lock(mutex_);
  if (closed_) {
    lock.unlock();
    ::SetLastError(code);
    return;
  }
  closed_ = true;
  waitingChanged_.notify_all();
  // No call enters from now on. Each pass ends what is pending: the wait
  // in the driver's own way (a new mask ends it with no events), then every
  // request issued on the handle. A call still inside may issue one more
  // request before it leaves, so each leaving call is followed by another
  // pass.
  for (;;) {
    lock.unlock();
    ::SetCommMask(handle_, 0);
    ::CancelIoEx(handle_, nullptr);
    if (ownWaits_)
      WakeOwnWait();
    lock.lock();
    if (inside_ == 0)
      break;
    const uint64_t leaves = leaves_;
    left_.wait(lock, [&] { return leaves_ != leaves; });
  }
  std::map<const Event*, HANDLE> pending;
  pending.swap(pendingTransfers_);
  lock.unlock();
  // The cancelled transfers end promptly; their records are not written
  // once Close has returned.
  for (const auto& [event, handle] : pending) {
    ::WaitForSingleObject(handle, INFINITE);
    ::CloseHandle(handle);
  }
  // No call is inside any more: the device's own read ahead is only ours.
  if (aheadPending_)
    ::WaitForSingleObject(aheadDone_, INFINITE);
  aheadPending_ = false;
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (wake_ != nullptr)
    ::CloseHandle(wake_);
  if (aheadDone_ != nullptr)
    ::CloseHandle(aheadDone_);
  wake_ = nullptr;
  aheadDone_ = nullptr;
  ::SetLastError(code);
}

void WindowsSerialDevice::NoteWaiting(int change) {
  {
    std::lock_guard lock(mutex_);
    waiting_ += change;
  }
  waitingChanged_.notify_all();
}

void WindowsSerialDevice::AwaitBlockedCalls(int count) {
  std::unique_lock lock(mutex_);
  waitingChanged_.wait(lock, [&] { return waiting_ >= count || closed_; });
}

bool WindowsSerialDevice::Fail(DWORD code) {
  ::SetLastError(code);
  return false;
}

bool WindowsSerialDevice::FailWithSystemError() {
  const DWORD code = ::GetLastError();
  // A failure always has a code: one without would read as success.
  return Fail(code != 0 ? code : ERROR_GEN_FAILURE);
}

// ---- configuration -------------------------------------------------------

bool WindowsSerialDevice::GetCommState(DCB& dcb) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  ::DCB system{};
  system.DCBlength = sizeof system;
  if (!::GetCommState(handle_, &system))
    return FailWithSystemError();
  std::memcpy(&dcb, &system, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  return true;
}

bool WindowsSerialDevice::SetCommState(const DCB& dcb) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  // The same blocks are refused on every system, before the driver sees
  // them.
  if (!IsValidDcb(dcb))
    return Fail(ERROR_INVALID_PARAMETER);
  ::DCB system{};
  std::memcpy(&system, &dcb, sizeof system);
  system.DCBlength = sizeof system;
  if (!::SetCommState(handle_, &system))
    return FailWithSystemError();
  eventChar_.store(dcb.EvtChar, std::memory_order_relaxed);
  return true;
}

bool WindowsSerialDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  // The sizes come from signed settings: anything above INT32_MAX was
  // negative there.
  if (inQueue == 0 || outQueue == 0 || inQueue > INT32_MAX || outQueue > INT32_MAX)
    return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(aheadMutex_);
  if (!::SetupComm(handle_, inQueue, outQueue))
    return FailWithSystemError();
  inQueueSize_ = inQueue;
  if (ownWaits_)
    WakeOwnWait();  // a larger queue may hold more
  return true;
}

bool WindowsSerialDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  ::COMMTIMEOUTS system{};
  std::unique_lock lock(aheadMutex_, std::defer_lock);
  if (ownWaits_)
    lock.lock();  // not the read ahead's own for a moment
  if (!::GetCommTimeouts(handle_, &system))
    return FailWithSystemError();
  timeouts.ReadIntervalTimeout = system.ReadIntervalTimeout;
  timeouts.ReadTotalTimeoutMultiplier = system.ReadTotalTimeoutMultiplier;
  timeouts.ReadTotalTimeoutConstant = system.ReadTotalTimeoutConstant;
  timeouts.WriteTotalTimeoutMultiplier = system.WriteTotalTimeoutMultiplier;
  timeouts.WriteTotalTimeoutConstant = system.WriteTotalTimeoutConstant;
  return true;
}

bool WindowsSerialDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  // "Return on the first byte" needs a finite constant.
  constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
  if (timeouts.ReadIntervalTimeout == kAllOnes && timeouts.ReadTotalTimeoutMultiplier == kAllOnes &&
      timeouts.ReadTotalTimeoutConstant == kAllOnes)
    return Fail(ERROR_INVALID_PARAMETER);
  ::COMMTIMEOUTS system{};
  system.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
  system.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
  system.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
  system.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
  system.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
  // Kept for the device's own read ahead, which sets its own for a moment.
  std::lock_guard lock(aheadMutex_);
  if (!::SetCommTimeouts(handle_, &system))
    return FailWithSystemError();
  timeouts_ = system;
  return true;
}

bool WindowsSerialDevice::PurgeComm(uint32_t flags) {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (flags & ~kAllPurgeFlags)
    return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(aheadMutex_);
  if (!::PurgeComm(handle_, flags))
    return FailWithSystemError();
  if (flags & PURGE_RXCLEAR) {
    // The bytes read ahead are received data too.
    held_.clear();
    heldFirst_ = 0;
    fresh_ = freshFlag_ = false;
    announced_ = 0;
  }
  // The aborted transfers end now, also where the driver only drops the
  // queues. One that has ended already is not found, which is no failure.
  const OVERLAPPED* read = nullptr;
  const OVERLAPPED* write = nullptr;
  {
    std::lock_guard stateLock(mutex_);
    if (flags & PURGE_RXABORT)
      std::swap(read, pendingRead_);
    if (flags & PURGE_TXABORT)
      std::swap(write, pendingWrite_);
  }
  if (read != nullptr)
    ::CancelIoEx(handle_, const_cast<OVERLAPPED*>(read));
  if (write != nullptr)
    ::CancelIoEx(handle_, const_cast<OVERLAPPED*>(write));
  ::SetLastError(0);
  return true;
}

bool WindowsSerialDevice::FlushFileBuffers() {
  Call call(*this);
  if (!call)
    return Fail(ERROR_INVALID_HANDLE);
  if (!::FlushFileBuffers(handle_))
    return FailWithSystemError();
  return true;
}

}  // namespace platform
