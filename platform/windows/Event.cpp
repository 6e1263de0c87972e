// The platform's event object on Windows: the system's own event, so the
// serial device can hand it to the driver in its OVERLAPPED records and the
// driver sets it when a transfer or wait ends.
#include <windows.h>

#include <new>

#include "platform/SerialDevice.h"

namespace platform {

struct Event::State {
  HANDLE handle = nullptr;
  bool manualReset = true;
};

Event::Event(bool manualReset, bool initiallySet) : d(std::make_unique<State>()) {
  d->manualReset = manualReset;
  d->handle = ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
  // Only a lack of resources makes this fail; the callers treat that as
  // they treat a lack of memory.
  if (d->handle == nullptr)
    throw std::bad_alloc();
}

Event::~Event() { ::CloseHandle(d->handle); }

void Event::Set() { ::SetEvent(d->handle); }

void Event::Reset() { ::ResetEvent(d->handle); }

bool Event::IsSet() const {
  if (::WaitForSingleObject(d->handle, 0) != WAIT_OBJECT_0)
    return false;
  // Looking at an auto-reset event took its signal: it is given back, so
  // that asking changes nothing.
  if (!d->manualReset)
    ::SetEvent(d->handle);
  return true;
}

void Event::Wait() { ::WaitForSingleObject(d->handle, INFINITE); }

bool Event::ManualReset() const { return d->manualReset; }

void* Event::NativeHandle() const { return d->handle; }

}  // namespace platform
