// soak-bench: the level tool's window against the simulated gateway on a
// pseudo-terminal (no reply delay).
//
//  1. Open to gains: presses Open and times until the read reply has set
//     the spinners (identify and read levels in between); repeated with a
//     Close in between.
//  2. Soak: on the one open window, read-level exchanges one after the
//     other; any time-out ends the run as a failure. Reports exchanges per
//     second, the spread of single exchanges, and the peak resident memory
//     after the first 1 000 and at the end.
//
// The window finds the simulator through a port list read from a built
// device tree: a built-in port registered in its sysfs, whose node in its
// <dev> is the simulator's link to its terminal. The window's port opens
// the listed name in that <dev>.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "app/Mainform.h"
#include "app/PortDiscovery.h"
#include "comport/Comport.h"
#include "framework/Application.h"
#include "framework/UpDown.h"

namespace {

constexpr char kPortName[] = "ttyGW90";

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "soak-bench: %s\n", what);
  std::exit(1);
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// Runs the event loop until the window's exchange has ended, by a reply or
// by its time-out (then false). The window's received-data handler and the
// response timer are wrapped to end the wait; the time-out does not show
// its box here.
class TExchangeWaiter {
 public:
  explicit TExchangeWaiter(TMajorForm& form) : form_(form) {
    form_.ComPort1->SetOnRxChar(TNotifyEvent::Bind([this](TObject* sender) {
      form_.ComPort1RxChar(sender);
      if (form_.ExchangeState() == CmdIdle) loop_.quit();
    }));
    form_.UartRespTimeoutTimer->SetOnTimer(TNotifyEvent::Bind([this](TObject*) {
      form_.UartRespTimeoutTimer->SetEnabled(false);
      timedOut_ = true;
      loop_.quit();
    }));
  }
  bool Wait() {
    timedOut_ = false;
    if (form_.ExchangeState() != CmdIdle) loop_.exec();
    return !timedOut_;
  }

 private:
  TMajorForm& form_;
  QEventLoop loop_;
  bool timedOut_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  TApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true);  // the per-user folder stays out of the user's
  int exchanges = 10000, opens = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (QByteArray(argv[i]) == "--exchanges") exchanges = std::atoi(argv[i + 1]);
    if (QByteArray(argv[i]) == "--opens") opens = std::atoi(argv[i + 1]);
  }
  if (exchanges < 1000 || opens < 1) Fail("usage: soak-bench [--exchanges N>=1000] [--opens N>=1]");

  // The device tree the window lists: a bound built-in port.
  QTemporaryDir work;
  const QString root = work.path();
  const QString device = root + "/sys/devices/platform/serial8250";
  const QString entry = device + "/tty/" + kPortName;
  QDir(root).mkpath(device + "/driver");
  QDir(root).mkpath(entry);
  QDir(root).mkpath("sys/class/tty");
  QDir(root).mkpath("dev");
  QFile::link("../..", entry + "/device");
  std::ofstream((entry + "/type").toStdString()) << "4\n";
  QFile::link(entry, root + "/sys/class/tty/" + kPortName);
  SetDeviceRoots(root + "/sys", root + "/dev");

  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start(GATEWAY_SIM_PATH, {"--gains", "-3,6,0", "--link", root + "/dev/" + kPortName});
  if (!sim.waitForStarted()) Fail("the simulator does not start");
  QByteArray simOutput;
  while (!simOutput.contains("READY\n")) {
    if (!sim.waitForReadyRead(10000)) Fail("the simulator does not get ready");
    simOutput += sim.readAllStandardOutput();
  }
  // The simulator logs every line; its output is drained as it comes.
  QObject::connect(&sim, &QProcess::readyReadStandardOutput, [&sim] { sim.readAllStandardOutput(); });

  FirstShow = false;
  TMajorForm form;
  form.show();
  if (form.ComPortListBox->count() != 1) Fail("the simulator's port is not listed");
  TExchangeWaiter waiter(form);

  // 1. Open to gains.
  std::vector<double> openMs;
  for (int i = 0; i < opens; ++i) {
    form.GWReceiveInputGainUpDown->SetPosition(0);
    form.ComPortListBox->setCurrentRow(0);
    QElapsedTimer clock;
    clock.start();
    form.OpenComPortButton->click();
    if (!form.PortOpened()) Fail("Open failed");
    if (!waiter.Wait() || form.GWReceiveInputGainUpDown->Position() != -3) Fail("no gains after Open");
    openMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    if (i + 1 < opens) form.CloseComPortButton->click();
  }
  std::printf(
      "Open to gains shown (%d opens): first %.2f ms, median %.2f ms, best %.2f ms, worst %.2f ms (goal below 15 ms)\n",
      opens, openMs.front(), Percentile(openMs, 0.5), Percentile(openMs, 0.0), Percentile(openMs, 1.0));

  // 2. Soak on the open window.
  std::vector<double> exchangeUs;
  exchangeUs.reserve(static_cast<std::size_t>(exchanges));
  long rssAt1000 = 0;
  QElapsedTimer total;
  total.start();
  for (int i = 1; i <= exchanges; ++i) {
    QElapsedTimer one;
    one.start();
    form.StartExchange(CmdReadLevels);
    if (!waiter.Wait()) {
      std::fprintf(stderr, "soak-bench: exchange %d timed out\n", i);
      return 1;
    }
    exchangeUs.push_back(static_cast<double>(one.nsecsElapsed()) / 1e3);
    if (i == 1000) rssAt1000 = PeakRssKiB();
  }
  const double seconds = static_cast<double>(total.nsecsElapsed()) / 1e9;
  std::printf("read-level exchanges: %d, failures: 0, %.0f exchanges/s\n", exchanges, exchanges / seconds);
  std::printf("one exchange: median %.0f us, 99th percentile %.0f us, worst %.0f us\n",
              Percentile(exchangeUs, 0.5), Percentile(exchangeUs, 0.99), Percentile(exchangeUs, 1.0));
  std::printf("peak resident memory: %ld KiB after 1000 exchanges, %ld KiB after %d\n", rssAt1000, PeakRssKiB(),
              exchanges);

  form.CloseComPortButton->click();
  sim.terminate();
  sim.waitForFinished(5000);
  return 0;
}
