#include "Relay.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace bench {
namespace {

[[noreturn]] void Fail(const std::string& what, int code) {
  throw std::runtime_error("relay: " + what + ": " + std::strerror(code));
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

Relay::Relay(const std::string& farSlavePath) {
  char folder[] = "/tmp/comport-bench-relay.XXXXXX";
  if (mkdtemp(folder) == nullptr) Fail("mkdtemp", errno);
  folder_ = folder;
  link_ = folder_ + "/tty";

  // The link appears once socat has made its terminal; inotify says when.
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0 || inotify_add_watch(watch, folder_.c_str(), IN_CREATE) < 0) {
    const int code = errno;
    if (watch >= 0) close(watch);
    rmdir(folder_.c_str());
    Fail("inotify", code);
  }
  // Both ends raw; wait-slave holds the transfer until the side has opened
  // the relay's slave, so socat never reads a master nobody holds.
  std::vector<std::string> args = {"socat", "FILE:" + farSlavePath + ",rawer",
                                   "PTY,link=" + link_ + ",rawer,wait-slave"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, "socat", nullptr, nullptr, argv.data(), environ);
  if (spawned != 0) {
    pid_ = -1;
    close(watch);
    rmdir(folder_.c_str());
    Fail("cannot start socat (Debian package socat)", spawned);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Exists(link_)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    int status = 0;
    const bool ended = waitpid(pid_, &status, WNOHANG) == pid_;
    if (ended) pid_ = -1;
    if (ended || left.count() <= 0) {
      close(watch);
      Stop();
      throw std::runtime_error(ended ? "relay: socat ended before making its terminal"
                                     : "relay: socat made no terminal within 10 s");
    }
    // Woken by the link's creation, or at the latest every 100 ms to see
    // whether socat has ended.
    pollfd p{watch, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
}

Relay::~Relay() { Stop(); }

void Relay::Stop() noexcept {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (!link_.empty()) unlink(link_.c_str());
  if (!folder_.empty()) rmdir(folder_.c_str());
}

}  // namespace bench
