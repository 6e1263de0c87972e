// The platform's event object: a flag with a mutex and a condition variable
// for the threads that wait on it. Reading and clearing the flag take no
// lock (the component does both on every transfer); setting it does, so a
// waiter cannot miss it.
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/SerialDevice.h"

namespace platform {

struct Event::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool manualReset = true;
  std::atomic<bool> set{false};
};

Event::Event(bool manualReset, bool initiallySet) : d(std::make_unique<State>()) {
  d->manualReset = manualReset;
  d->set.store(initiallySet, std::memory_order_relaxed);
}

Event::~Event() = default;

void Event::Set() {
  // Notified under the lock: a released waiter may destroy the event as soon
  // as it returns. A manual-reset event releases every waiter; an auto-reset
  // one only the first that takes it, and the others sleep on.
  std::lock_guard lock(d->mutex);
  d->set.store(true, std::memory_order_release);
  d->changed.notify_all();
}

bool Event::ManualReset() const { return d->manualReset; }

// Linux has no event object of its own: the device waits on this one.
void* Event::NativeHandle() const { return nullptr; }

void Event::Reset() { d->set.store(false, std::memory_order_release); }

bool Event::IsSet() const { return d->set.load(std::memory_order_acquire); }

void Event::Wait() {
  std::unique_lock lock(d->mutex);
  d->changed.wait(lock, [this] { return d->set.load(std::memory_order_acquire); });
  if (!d->manualReset)
    d->set.store(false, std::memory_order_relaxed);
}

}  // namespace platform
