#include "FarEnd.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <stdexcept>
#include <vector>

#ifdef BENCH_HAVE_CALLGRIND
#include <valgrind/callgrind.h>
#endif

namespace bench {

FarEnd::FarEnd(int master) : master_(master) {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

FarEnd::~FarEnd() {
  try {
    Stop();
  } catch (...) {
    // Already reported by the caller's own Stop() on every normal path.
  }
  close(wake_);
}

void FarEnd::StartResponder(std::string reply, char terminator) {
  reply_ = std::move(reply);
  terminator_ = terminator;
  Start(&FarEnd::Respond);
}

void FarEnd::StartStreamer(uint64_t total) {
  total_ = total;
  Start(&FarEnd::Stream);
}

void FarEnd::Start(void (FarEnd::*body)()) {
  error_.clear();
  uint64_t drained = 0;
  [[maybe_unused]] const ssize_t ignored = read(wake_, &drained, sizeof drained);
  std::promise<pid_t> started;
  std::future<pid_t> startedTid = started.get_future();
  thread_ = std::thread([this, body, &started] {
#ifdef BENCH_HAVE_CALLGRIND
    // Collection is a per-thread state: switching it off here leaves the
    // side under measurement counted alone.
    if (excludeFromCount_) CALLGRIND_TOGGLE_COLLECT;
#endif
    started.set_value(CurrentThreadId());
    try {
      (this->*body)();
    } catch (const std::exception& e) {
      error_ = e.what();
    }
  });
  tid_ = startedTid.get();
}

void FarEnd::Stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = write(wake_, &one, sizeof one);
  thread_.join();
  tid_ = 0;
  if (!error_.empty()) throw std::runtime_error("far end: " + error_);
}

Usage FarEnd::ThreadUsageNow() const {
  clockid_t clock{};
  pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock);
  return ThreadUsage(tid_, clock);
}

bool FarEnd::WaitFor(short events) {
  pollfd fds[2] = {{master_, events, 0}, {wake_, POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    if (fds[1].revents != 0) return false;
    if (fds[0].revents & (POLLERR | POLLNVAL)) throw std::runtime_error("master descriptor failed");
    if (fds[0].revents != 0) return true;
  }
}

void FarEnd::Respond() {
  char buffer[256];
  while (WaitFor(POLLIN)) {
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) throw std::runtime_error(std::string("read: ") + std::strerror(errno));
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != terminator_) continue;
      // The reply is far smaller than the terminal's buffer: one write.
      if (write(master_, reply_.data(), reply_.size()) != static_cast<ssize_t>(reply_.size()))
        throw std::runtime_error(std::string("write: ") + std::strerror(errno));
    }
  }
}

void FarEnd::Stream() {
  // One period-aligned block, written from the right offset each time.
  std::vector<uint8_t> block(251 * 256);
  for (size_t i = 0; i < block.size(); ++i) block[i] = PatternByte(i);
  uint64_t sent = 0;
  while (sent < total_ && WaitFor(POLLOUT)) {
    const size_t offset = sent % 251;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size() - offset, total_ - sent));
    const ssize_t n = write(master_, block.data() + offset, want);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) throw std::runtime_error(std::string("write: ") + std::strerror(errno));
    sent += static_cast<uint64_t>(n);
  }
  // Done: sleep until stopped.
  pollfd stop{wake_, POLLIN, 0};
  while (poll(&stop, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace bench
