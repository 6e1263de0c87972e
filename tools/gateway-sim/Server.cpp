#include "Server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace gwsim {

Server::Server(const PseudoTerminal& terminal, Gateway& gateway, std::chrono::milliseconds delay,
               bool split, LineLog log)
    : terminal_(terminal),
      gateway_(gateway),
      delay_(delay),
      split_(split),
      log_(std::move(log)),
      opens_(terminal.WatchSlaveOpens()) {}

void Server::Run(int stopFd) {
  for (;;) {
    short masterEvents = POLLIN | (output_.empty() ? 0 : POLLOUT);
    pollfd fds[] = {{stopFd, POLLIN, 0},
                    {opens_.Get(), POLLIN, 0},
                    {connected_ ? terminal_.Master() : -1, masterEvents, 0}};
    if (poll(fds, 3, MsUntilNextReply()) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "waiting for the terminal failed");
    }
    if (fds[0].revents) return;
    // The master's news first: an open reported in the same wait is newer
    // than the hang-up and must not be undone by it.
    short master = fds[2].revents;
    if (master & POLLIN) {
      ReadCommands();
    } else if (master & (POLLHUP | POLLERR)) {
      HangUp();
    }
    if (connected_ && (master & POLLOUT)) Flush();
    if (fds[1].revents) {
      DrainOpens();
      connected_ = true;
    }
    ReleaseDueReplies();
  }
}

void Server::ReadCommands() {
  char buffer[512];
  for (;;) {
    ssize_t count = read(terminal_.Master(), buffer, sizeof buffer);
    if (count > 0) {
      auto now = std::chrono::steady_clock::now();
      for (auto& exchange : gateway_.Receive({buffer, static_cast<size_t>(count)})) {
        log_("RX " + exchange.command);
        if (!exchange.reply.empty()) pending_.push_back({now + delay_, std::move(exchange.reply)});
      }
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) return;
    HangUp();  // EIO: the last holder of the slave closed it
    return;
  }
}

void Server::ReleaseDueReplies() {
  auto now = std::chrono::steady_clock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    for (auto& line : pending_.front().lines) {
      log_("TX " + line.text);
      if (split_) {
        for (char byte : line.wire) output_.emplace_back(1, byte);
      } else {
        output_.push_back(std::move(line.wire));
      }
    }
    pending_.pop_front();
  }
  Flush();
}

void Server::Flush() {
  while (connected_ && !output_.empty()) {
    std::string& chunk = output_.front();
    ssize_t count = write(terminal_.Master(), chunk.data(), chunk.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) return;  // the wait asks for POLLOUT
    if (count < 0) {
      HangUp();
      return;
    }
    chunk.erase(0, static_cast<size_t>(count));
    if (chunk.empty()) output_.pop_front();
  }
}

void Server::HangUp() {
  connected_ = false;
  pending_.clear();
  output_.clear();
  gateway_.DropPartialCommand();
}

void Server::DrainOpens() {
  alignas(8) char events[1024];
  while (read(opens_.Get(), events, sizeof events) > 0) {
  }
}

int Server::MsUntilNextReply() const {
  if (pending_.empty()) return -1;
  auto left = pending_.front().due - std::chrono::steady_clock::now();
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

}  // namespace gwsim
