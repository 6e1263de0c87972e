// Test helper: the simulated gateway as a child process. It publishes its
// pseudo-terminal (at a link path when given), then logs every command it
// receives ("RX <command>") on its standard output, which this helper
// collects as the event loop runs.
//
// The child is started with fork and exec, not QProcess: once QProcess has
// started a process, the race checker no longer sees the locks this thread
// takes and reports the window's exchanges with the port's event thread as
// races. With fork and exec the tests run under it like the others.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QSocketNotifier>
#include <QStringList>
#include <QTest>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

class TGatewaySim {
 public:
  // Starts the simulator with 'options' and waits until it is ready.
  explicit TGatewaySim(const QStringList& options) {
    std::vector<std::string> arguments{GATEWAY_SIM_PATH};
    for (const QString& option : options) arguments.push_back(option.toStdString());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return;
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls here. A test program that dies takes
      // its simulator along.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(output[1], STDOUT_FILENO);  // the copy stays open across exec
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(output[1]);
    if (pid_ < 0) {
      ::close(output[0]);
      return;
    }
    output_ = output[0];
    ::fcntl(output_, F_SETFL, ::fcntl(output_, F_GETFL) | O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(output_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadOutput(); });
    // The tests look at Ready() themselves.
    (void)QTest::qWaitFor([this] { return ready_ || !Running(); }, 10000);
  }
  ~TGatewaySim() {
    if (Running()) {
      ::kill(pid_, SIGTERM);
      if (!AwaitExit(5000)) Kill();
    }
    notifier_.reset();
    if (output_ >= 0) ::close(output_);
  }
  TGatewaySim(const TGatewaySim&) = delete;
  TGatewaySim& operator=(const TGatewaySim&) = delete;

  bool Ready() const { return ready_; }
  const QString& Pty() const { return pty_; }

  // The commands received so far, without their CR.
  const QStringList& Received() const { return received_; }
  // Waits (running the event loop) until 'command' has been received.
  bool WaitForCommand(const QString& command, int ms = 10000) {
    return QTest::qWaitFor([&] { return received_.contains(command); }, ms);
  }

  // Ends the simulator at once (SIGKILL): its side of the line hangs up.
  void Kill() {
    if (!Running()) return;
    ::kill(pid_, SIGKILL);
    Reap(0);
  }

 private:
  // True until the child has been reaped.
  bool Running() {
    if (pid_ <= 0) return false;
    Reap(WNOHANG);
    return pid_ > 0;
  }
  void Reap(int flags) {
    int status = 0;
    pid_t result;
    do result = ::waitpid(pid_, &status, flags);
    while (result < 0 && errno == EINTR);
    if (result == pid_ || (result < 0 && errno == ECHILD)) pid_ = -1;
  }
  // Waits up to 'ms' for the child to end, on a descriptor of the process
  // (no polling loop); true when it has been reaped.
  bool AwaitExit(int ms) {
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (process >= 0) {
      pollfd ended{process, POLLIN, 0};
      while (::poll(&ended, 1, ms) < 0 && errno == EINTR) {
      }
      ::close(process);
    }
    return !Running();
  }

  void ReadOutput() {
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::read(output_, chunk, sizeof chunk);
      if (n > 0) {
        pending_.append(chunk, n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) notifier_->setEnabled(false);  // the simulator closed its output
      break;
    }
    for (qsizetype end; (end = pending_.indexOf('\n')) >= 0;) {
      const QString line = QString::fromLocal8Bit(pending_.left(end)).trimmed();
      pending_.remove(0, end + 1);
      if (line.startsWith(QLatin1String("PTY "))) pty_ = line.mid(4);
      if (line.startsWith(QLatin1String("RX "))) received_.append(line.mid(3));
      if (line == QLatin1String("READY")) ready_ = true;
    }
  }

  pid_t pid_ = -1;
  int output_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  QByteArray pending_;
  bool ready_ = false;
  QString pty_;
  QStringList received_;
};
