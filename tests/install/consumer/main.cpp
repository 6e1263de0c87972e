// A console program on the installed component: it plays both ends of a
// pseudo-terminal. The port opens the slave by name; the program writes a
// request to the master, answers it from OnRxChar and reads the answer back
// on the master, then leaves the event loop. A signal indicator chained into
// OnRxChar lights on the request. Then what a careless or hostile caller
// does: a handler that deletes its port, a log file that is a FIFO, a write
// from no buffer, indicators attached and detached over and over, device
// names that lead into the working folder or hide a NUL. The exit code tells the result.
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <string>

#include "comport/Comport.h"
#include "comsignal/Comsignal.h"

namespace {

constexpr int kLimitMs = 10000;

// Settings reach the device control block; a missing device raises the
// component's error.
int CheckSettingsAndFailedOpen() {
  TComPort port;
  port.SetBaudRate(br115200);
  port.SetDataBits(db8);
  port.SetParity(paNone);
  port.SetStopBits(sb1);
  platform::DCB dcb;
  port.CopyDCB(dcb, true);
  if (dcb.BaudRate != 115200 || dcb.ByteSize != 8) return 1;

  port.SetDeviceName("/nonexistent/ttyNone");
  try {
    port.Open();
    return 2;
  } catch (const EComError& e) {
    std::printf("%s (%d)\n", e.what(), e.ComErrorCode);
  }
  return port.Active() ? 3 : 0;
}

// A handler that deletes its port ends the dispatch: the same batch's
// flag-character event reaches neither the freed port nor the indicator
// chained in front of its handlers.
int CheckHandlerDeletingItsPort(QCoreApplication& app, int master, const char* slaveName) {
  auto* port = new TComPort;
  port->SetDeviceName(QString::fromLocal8Bit(slaveName));
  port->Characters()->SetEvent('\n');
  bool flagSeen = false;
  port->SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    delete port;
    port = nullptr;
    app.exit(0);
  }));
  port->SetOnRxFlag(TNotifyEvent::Bind([&](TObject*) { flagSeen = true; }));
  TComSignal indicator;
  indicator.SetSignal(siRxFlag);
  indicator.SetComPort(port);
  port->Open();
  QTimer::singleShot(kLimitMs, &app, [&] { app.exit(1); });
  if (::write(master, "abc\n", 4) != 4) return 20;
  if (app.exec() != 0) return 21;
  return flagSeen ? 22 : 0;
}

// Indicators changed in turn and then detached leave the port's handler
// slots as the owner made them (here: empty), however often they changed.
int CheckIndicatorsLeaveNoTrace() {
  TComPort port;
  TComSignal a, b;
  a.SetSignal(siRxChar);
  b.SetSignal(siRxChar);
  a.SetComPort(&port);
  b.SetComPort(&port);
  for (int round = 0; round < 2000; ++round) {
    a.SetSignal(siRxFlag);
    a.SetSignal(siRxChar);
    b.SetSignal(siRxFlag);
    b.SetSignal(siRxChar);
  }
  a.SetComPort(nullptr);
  b.SetComPort(nullptr);
  if (port.OnRxChar().Assigned() || port.OnRxFlag().Assigned()) return 40;
  return port.AfterOpen().Assigned() || port.AfterClose().Assigned() ? 41 : 0;
}

// A bare name is a node in the device folder, never a file in the working
// folder; a name with a NUL is refused rather than cut short.
int CheckDeviceNames(const char* slaveName) {
  QTemporaryDir dir;
  if (!QDir(dir.path()).mkpath("dev") || !QDir(dir.path()).mkpath("sys")) return 50;
  if (!QFile::link(QString::fromLocal8Bit(slaveName), dir.filePath("dev/ttyCONSUMER0"))) return 51;
  if (!QFile::link(QString::fromLocal8Bit(slaveName), dir.filePath("ttyCONSUMER1"))) return 52;
  const QString workingFolder = QDir::currentPath();
  QDir::setCurrent(dir.path());
  int result = 0;
  {
    TComPort port;
    port.SetDeviceRoots(dir.filePath("sys"), dir.filePath("dev"));
    port.SetDeviceName("ttyCONSUMER0");
    port.Open();  // the node in the device folder
    port.Close();
    port.SetDeviceName("ttyCONSUMER1");  // only in the working folder
    try {
      port.Open();
      result = 53;
    } catch (const EComError& e) {
      if (e.ComErrorCode != ENOENT) result = 54;
    }
    port.SetDeviceName(QString::fromLocal8Bit(slaveName) + QChar(0) + "x");
    try {
      port.Open();
      result = 55;
    } catch (const EComError& e) {
      if (e.ComErrorCode != EINVAL) result = 56;
    }
  }
  QDir::setCurrent(workingFolder);
  return result;
}

// A FIFO named as the log file makes the open fail at once instead of
// blocking it for ever; a write from no buffer is refused with the system's
// "invalid argument", waiting or not.
int CheckHostileArguments(const char* slaveName) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("port.log");
  if (::mkfifo(fifo.toLocal8Bit().constData(), 0600) != 0) return 30;
  TComPort port;
  port.SetDeviceName(QString::fromLocal8Bit(slaveName));
  port.SetLogFile(fifo);
  try {
    port.Open();
    return 31;
  } catch (const EInOutError& e) {
    std::printf("%s\n", e.what());
  }
  // The device opened before the log failed; it stays the port's.
  port.SetLogFile({});
  if (!port.Active()) return 34;
  for (const bool wait : {false, true}) {
    try {
      port.Write(nullptr, 3, wait);
      return 32;
    } catch (const EComError& e) {
      if (e.ComErrorCode != EINVAL) return 33;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (const int failure = CheckSettingsAndFailedOpen()) return failure;

  int master = -1;
  int slave = -1;
  char slaveName[256] = {};
  if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) return 4;

  TComPort port;
  port.SetDeviceName(QString::fromLocal8Bit(slaveName));
  port.SetBaudRate(br115200);
  std::string request;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    request += port.ReadString();
    if (request == "PING\r") port.WriteString("PONG\r");
  }));
  TComSignal indicator;
  indicator.SetSignal(siRxChar);
  indicator.SetDelay(0);  // stays lit
  indicator.SetComPort(&port);
  try {
    port.Open();
  } catch (const EComError& e) {
    std::printf("open: %s (%d)\n", e.what(), e.ComErrorCode);
    return 5;
  }

  std::string answer;
  QSocketNotifier replies(master, QSocketNotifier::Read);
  QObject::connect(&replies, &QSocketNotifier::activated, [&] {
    char chunk[64];
    const ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n > 0) answer.append(chunk, static_cast<size_t>(n));
    if (n <= 0 || answer.size() >= 5) app.exit(answer == "PONG\r" ? 0 : 6);
  });
  QTimer::singleShot(kLimitMs, &app, [&] { app.exit(7); });
  if (::write(master, "PING\r", 5) != 5) return 8;

  int result = app.exec();
  if (result == 0 && !indicator.SignalValue()) result = 9;
  if (result != 0) std::printf("received %zu byte(s), answer of %zu byte(s)\n", request.size(), answer.size());
  port.Close();
  if (result == 0) result = CheckHandlerDeletingItsPort(app, master, slaveName);
  if (result == 0) result = CheckHostileArguments(slaveName);
  if (result == 0) result = CheckIndicatorsLeaveNoTrace();
  if (result == 0) result = CheckDeviceNames(slaveName);
  ::close(slave);
  ::close(master);
  return result;
}
