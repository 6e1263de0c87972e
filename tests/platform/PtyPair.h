// A pseudo-terminal pair for serial tests: the device under test opens the
// slave by its path; the test plays the far end on the master.
#pragma once

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <string>

class PtyPair {
 public:
  PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      path_ = name;
      ::close(slave);  // the device under test opens its own
    }
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  // Sends bytes from the far end.
  bool Send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Receives exactly 'count' bytes at the far end; gives up (returning what
  // came) when nothing arrives for 'idleMs'.
  std::string Receive(size_t count, int idleMs = 5000) const {
    std::string got;
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, idleMs) <= 0)
        break;
      char buf[65536];
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

  void CloseMaster() {
    if (master_ >= 0)
      ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};
