// Test helper: the simulated gateway as a child process. It publishes its
// pseudo-terminal (at a link path when given), then logs every command it
// receives ("RX <command>") on its standard output, which this helper
// collects as the event loop runs.
#pragma once

#include <sys/prctl.h>

#include <QProcess>
#include <csignal>
#include <QStringList>
#include <QTest>

class TGatewaySim {
 public:
  // Starts the simulator with 'options' and waits until it is ready.
  explicit TGatewaySim(const QStringList& options) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { ReadOutput(); });
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test program that dies takes its simulator along.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(QStringLiteral(GATEWAY_SIM_PATH), options);
    // The tests look at Ready() themselves.
    (void)QTest::qWaitFor([this] { return ready_ || process_.state() == QProcess::NotRunning; }, 10000);
  }
  ~TGatewaySim() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
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
    process_.kill();
    process_.waitForFinished(5000);
  }

 private:
  void ReadOutput() {
    while (process_.canReadLine()) {
      const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
      if (line.startsWith(QLatin1String("PTY "))) pty_ = line.mid(4);
      if (line.startsWith(QLatin1String("RX "))) received_.append(line.mid(3));
      if (line == QLatin1String("READY")) ready_ = true;
    }
  }

  QProcess process_;
  bool ready_ = false;
  QString pty_;
  QStringList received_;
};
