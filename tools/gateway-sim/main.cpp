// gateway-sim: a simulated QL75N gateway on a pseudo-terminal (see --help).
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <system_error>

#include "Gateway.h"
#include "Link.h"
#include "Options.h"
#include "Pty.h"
#include "Server.h"

namespace {

using namespace gwsim;

// One line of the log on standard output, flushed at once: tests and
// scripts follow it while the simulator runs.
void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// SIGINT and SIGTERM become readable on the returned descriptor instead of
// ending the process, so the link is removed on the way out.
Fd StopSignals() {
  std::signal(SIGPIPE, SIG_IGN);  // a closed log reader must not end us
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot block the stop signals");
  }
  Fd fd(signalfd(-1, &stop, SFD_CLOEXEC));
  if (fd.Get() < 0) throw std::system_error(errno, std::generic_category(), "signalfd failed");
  return fd;
}

PublishedLink Publish(const Options& options, const std::string& target) {
  switch (options.linkMode) {
    case LinkMode::Path:
      return PublishedLink::AtPath(options.linkPath, target);
    case LinkMode::None:
      return {};
    case LinkMode::Automatic:
      break;
  }
  // The tool lists links in /dev whose names end in a number; only root may
  // make them.
  if (geteuid() != 0) return {};
  return PublishedLink::FirstFree("/dev", "ttyGW", target);
}

}  // namespace

int main(int argc, char** argv) {
  auto [options, error] = ParseOptions({argv + 1, argv + argc});
  if (!error.empty()) {
    std::fprintf(stderr, "gateway-sim: %s\nTry 'gateway-sim --help'.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  try {
    Fd stop = StopSignals();
    PseudoTerminal terminal;
    PublishedLink link = Publish(options, terminal.SlavePath());
    Gateway gateway(options.gains, options.behaviour);
    Server server(terminal, gateway, std::chrono::milliseconds(options.delayMs), options.split,
                  Say);
    Say("PTY " + terminal.SlavePath());
    if (!link.Path().empty()) Say("LINK " + link.Path());
    Say("READY");
    server.Run(stop.Get());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gateway-sim: %s\n", e.what());
    return 1;
  }
}
