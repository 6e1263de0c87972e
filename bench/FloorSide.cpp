// The floor for the round trip: no event loop and no second thread, just
// write, poll and read on the slave descriptor.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "Side.h"

namespace bench {
namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("floor ") + what + ": " + std::strerror(errno));
}

class FloorSide final : public Side {
 public:
  ~FloorSide() override { Close(); }
  std::string Name() const override { return "poll+read"; }

  void Open(const std::string& path) override {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) Fail("open");
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) Fail("tcgetattr");
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) Fail("tcsetattr");
  }

  void Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  void RoundTrips(const Exchange& exchange, int count, std::vector<double>* latencies) override {
    RoundTripLog log(exchange, count, latencies);
    const std::string& command = log.Command();
    char buffer[256];
    while (!log.Done()) {
      log.Sent();
      if (write(fd_, command.data(), command.size()) != static_cast<ssize_t>(command.size())) Fail("write");
      for (bool complete = false; !complete;) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, 10000);
        if (ready == 0) throw std::runtime_error("floor: no reply within 10 s");
        if (ready < 0) {
          if (errno == EINTR) continue;
          Fail("poll");
        }
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) Fail("read");
        complete = log.Received(buffer, static_cast<size_t>(n));
      }
    }
  }

  bool Streams() const override { return false; }
  void Receive(uint64_t) override {}

 private:
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<Side> MakeFloorSide() { return std::make_unique<FloorSide>(); }

}  // namespace bench
