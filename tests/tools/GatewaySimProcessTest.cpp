// The simulator as a program: it publishes its terminal, answers through it
// across repeated opens and closes, and ends cleanly on a stop signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Generous: only a broken simulator comes near it.
constexpr auto kPatience = std::chrono::seconds(20);

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads from `fd` until `count` bytes came or the deadline passed.
std::string ReadBytes(int fd, size_t count, Clock::time_point deadline) {
  std::string bytes;
  while (bytes.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) break;
    char buffer[256];
    ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> arguments) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &stops);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    arguments.insert(arguments.begin(), GATEWAY_SIM_PATH);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, GATEWAY_SIM_PATH, &actions, &attributes, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    out_ = out[0];
  }

  ~SimProcess() {
    if (pid_ > 0) Stop(SIGKILL);
    if (out_ >= 0) close(out_);
  }

  bool Started() const { return pid_ > 0; }

  // The next line of the simulator's log; empty when none came in time.
  std::string NextLine() {
    auto deadline = Clock::now() + kPatience;
    for (;;) {
      if (auto lf = pending_.find('\n'); lf != std::string::npos) {
        std::string line = pending_.substr(0, lf);
        pending_.erase(0, lf + 1);
        return line;
      }
      std::string more = ReadBytes(out_, 1, deadline);
      if (more.empty()) return {};
      pending_ += more;
    }
  }

  // Sends `signal` and returns the exit code (-1 unless it exited normally).
  int Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// Opens the port, sends one command, returns the reply bytes and closes.
std::string Exchange(const std::string& port, const std::string& command, size_t replyLength) {
  int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "cannot open " + port;
  std::string reply;
  if (write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size())) {
    reply = ReadBytes(fd, replyLength, Clock::now() + kPatience);
  }
  close(fd);
  return reply;
}

TEST(GatewaySimProcess, ServesThePseudoTerminalAndEndsOnSigterm) {
  SimProcess sim({"--no-link"});
  ASSERT_TRUE(sim.Started());
  std::string pty = sim.NextLine();
  ASSERT_TRUE(pty.starts_with("PTY /dev/pts/")) << pty;
  ASSERT_EQ(sim.NextLine(), "READY");
  const std::string reply = "OK\r\n+KVWSTS1=1,46186756\r\n";
  EXPECT_EQ(Exchange(pty.substr(4), "AT+KVWCMD1=1\r", reply.size()), reply);
  EXPECT_EQ(sim.NextLine(), "RX AT+KVWCMD1=1");
  EXPECT_EQ(sim.NextLine(), "TX OK");
  EXPECT_EQ(sim.NextLine(), "TX +KVWSTS1=1,46186756");
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// The tool closes the port after each session and opens it again; the
// simulator must serve every open, with the gains written in an earlier one.
TEST(GatewaySimProcess, ServesEveryReopenThroughItsLinkAndRemovesTheLinkOnSigint) {
  char folder[] = "/tmp/gwsim-process-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  fs::path link = fs::path(folder) / "ttyGW7";
  {
    SimProcess sim({"--link", link.string(), "--split", "--delay", "20"});
    ASSERT_TRUE(sim.Started());
    std::string pty = sim.NextLine();
    ASSERT_TRUE(pty.starts_with("PTY ")) << pty;
    ASSERT_EQ(sim.NextLine(), "LINK " + link.string());
    ASSERT_EQ(sim.NextLine(), "READY");
    EXPECT_EQ(fs::read_symlink(link), pty.substr(4));

    const std::string written = "OK\r\n+KVWSTS1=61\r\n";
    const std::string read = "OK\r\n+KVWSTS1=41,-3,9,0\r\n";
    EXPECT_EQ(Exchange(link, "AT+KVWCMD1=61,-3,9,0\r", written.size()), written);
    for (int session = 0; session < 3; ++session) {
      EXPECT_EQ(Exchange(link, "AT+KVWCMD1=41\r", read.size()), read) << "session " << session;
    }
    EXPECT_EQ(sim.NextLine(), "RX AT+KVWCMD1=61,-3,9,0");
    EXPECT_EQ(sim.Stop(SIGINT), 0);
  }
  EXPECT_FALSE(fs::is_symlink(link));
  fs::remove_all(folder);
}

}  // namespace
