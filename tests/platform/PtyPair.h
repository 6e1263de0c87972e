// A pseudo-terminal pair for serial tests: the device under test opens the
// slave by path(); the test plays the far end (the master) with Send,
// Receive and CloseMaster.
//
// On Linux the pair comes from openpty and path() is the slave's path (also
// what name() gives). On Windows (under Wine) a test program cannot make a
// pseudo-terminal itself: the pair comes from the pseudo-terminal bridge
// that scripts/wine-run.sh starts (its TCP port is in QL75N_PTY_BRIDGE).
// The bridge maps the slave to a COM name; name() is that name ("COM12"),
// path() the form the device opens ("\\.\COM12"), and the TCP connection
// is the master: closing it (CloseMaster) hangs the port up.
#pragma once

#include <algorithm>
#include <cerrno>
#include <string>

#ifdef _WIN32
#include <cstdint>
#else
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#endif

class PtyPair {
 public:
#ifdef _WIN32
  // Asks the bridge for a pair (WindowsPtyPair.cpp).
  PtyPair();
#else
  PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      path_ = name;
      ::close(slave);  // the device under test opens its own
    }
  }
#endif
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

#ifdef _WIN32
  bool ok() const { return socket_ != kNoSocket && !name_.empty(); }
  // The COM name the slave is mapped to ("COM12").
  const std::string& name() const { return name_; }
  // The slave's own path on the Linux side ("/dev/pts/3").
  const std::string& slavePath() const { return slavePath_; }
#else
  bool ok() const { return master_ >= 0; }
  const std::string& name() const { return path_; }
  int master() const { return master_; }
#endif
  // What the device under test opens.
  const std::string& path() const { return path_; }

  // True where a pseudo-terminal is only a stand-in for a port: under Wine,
  // where it has no modem lines and the Windows device waits for it on its
  // own reads ahead (no transmit-empty event, no reads that return at once,
  // no exclusive open, only the standard rates).
#ifdef _WIN32
  static bool IsStandIn();
#else
  static bool IsStandIn() { return false; }
#endif

  // Sends bytes from the far end.
#ifdef _WIN32
  bool Send(const std::string& bytes) const;
#else
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
#endif

  // Receives exactly 'count' bytes at the far end; gives up (returning what
  // came) when nothing arrives for 'idleMs'.
#ifdef _WIN32
  std::string Receive(size_t count, int idleMs = 5000) const;
#else
  std::string Receive(size_t count, int idleMs = 5000) const {
    std::string got;
    while (got.size() < count) {
      char buf[65536];
      const size_t want = std::min(sizeof buf, count - got.size());
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, idleMs) <= 0)
        break;
      const ssize_t n = ::read(master_, buf, want);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
#endif

  // Closes the far end: the port hangs up.
#ifdef _WIN32
  void CloseMaster();
#else
  void CloseMaster() {
    if (master_ >= 0)
      ::close(master_);
    master_ = -1;
  }
#endif

 private:
#ifdef _WIN32
  // The connection's socket, as Winsock's SOCKET (kept opaque, so the
  // header brings in no system header and its names).
  static constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};
  std::uintptr_t socket_ = kNoSocket;
  std::string name_;
  std::string slavePath_;
#else
  int master_ = -1;
#endif
  std::string path_;
};
