// The platform's event object: a flag guarded by a mutex, with a condition
// variable for the threads that wait on it.
#include <condition_variable>
#include <mutex>

#include "platform/SerialDevice.h"

namespace platform {

struct Event::State {
  mutable std::mutex mutex;
  std::condition_variable changed;
  bool manualReset = true;
  bool set = false;
};

Event::Event(bool manualReset, bool initiallySet) : d(std::make_unique<State>()) {
  d->manualReset = manualReset;
  d->set = initiallySet;
}

Event::~Event() = default;

void Event::Set() {
  // Notified under the lock: a released waiter may destroy the event as soon
  // as it returns. A manual-reset event releases every waiter; an auto-reset
  // one only the first that takes it, and the others sleep on.
  std::lock_guard lock(d->mutex);
  d->set = true;
  d->changed.notify_all();
}

void Event::Reset() {
  std::lock_guard lock(d->mutex);
  d->set = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(d->mutex);
  return d->set;
}

void Event::Wait() {
  std::unique_lock lock(d->mutex);
  d->changed.wait(lock, [this] { return d->set; });
  if (!d->manualReset)
    d->set = false;
}

}  // namespace platform
