// The pseudo-terminal the simulator serves: the master side stays with the
// simulator, the slave side is the serial port the tool opens.
#pragma once

#include <string>

namespace gwsim {

// An owned file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept;
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();

  int Get() const { return fd_; }

 private:
  int fd_ = -1;
};

class PseudoTerminal {
 public:
  // Opens a master (non-blocking) and puts the slave in raw mode at
  // 115200 baud, so CR and LF pass unchanged. Nothing keeps the slave open:
  // the master reports a hang-up until the tool opens it. Throws
  // std::system_error.
  PseudoTerminal();

  int Master() const { return master_.Get(); }
  const std::string& SlavePath() const { return slavePath_; }

  // A descriptor that becomes readable each time someone opens the slave
  // (an inotify watch), the wake-up while the master is hung up.
  Fd WatchSlaveOpens() const;

 private:
  Fd master_;
  std::string slavePath_;
};

}  // namespace gwsim
