// Shared pieces of the component's tests: a port that opens the scripted
// device double, a recorder of the open/close events, and a pseudo-terminal
// whose far end the test holds.
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <QFile>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comport/Comport.h"
#include "framework/Application.h"
#include "platform/PtyPair.h"
#include "support/FakeSerialDevice.h"
#ifndef _WIN32
#include "support/linux/TerminalAttributes.h"
#endif

namespace comporttest {

using testsupport::FakeSerialDevice;
using Op = FakeSerialDevice::Op;

inline const std::string kOpenPortError = "Can't perform this operation on an open port";
inline const std::string kClosedPortError = "Can't perform this operation on a closed port";

// The EComError that f raises (a test failure when it raises none).
template <class F>
EComError CatchComError(F&& f) {
  try {
    f();
  } catch (const EComError& e) {
    return e;
  }
  ADD_FAILURE() << "no EComError";
  return EComError(-1, "");
}

// Shows exceptions of the standard display in a list instead of a box.
class ShownExceptions {
 public:
  ShownExceptions() {
    Application->OnException =
        TExceptionEvent::Bind([this](TObject*, const Exception& e) { messages.push_back(e.Message()); });
  }
  ~ShownExceptions() { Application->OnException = nullptr; }
  std::vector<std::string> messages;
};

// A TComPort whose opens hand out a fresh device double each time.
struct FakePort {
  TComPort port;
  std::shared_ptr<FakeSerialDevice> device;  // the one of the last open
  std::vector<std::string> openedNames;
  int openError = 0;  // when set, the next open fails with it

  FakePort() {
    port.SetDeviceFactory([this](const std::string& name) -> platform::SerialDevicePtr {
      openedNames.push_back(name);
      if (openError != 0) {
        platform::SetLastError(openError);
        return nullptr;
      }
      device = std::make_shared<FakeSerialDevice>();
      return device;
    });
  }
};

// Records the four open/close events with the Active state seen by each.
struct EventRecorder {
  std::vector<std::string> events;

  void Attach(TCustomComPort& port) {
    port.SetBeforeOpen(Handler("BeforeOpen"));
    port.SetAfterOpen(Handler("AfterOpen"));
    port.SetBeforeClose(Handler("BeforeClose"));
    port.SetAfterClose(Handler("AfterClose"));
  }

 private:
  TOpenCloseEvent Handler(const std::string& name) {
    return TOpenCloseEvent::Bind(
        [this, name](TCustomComPort* p) { events.push_back(name + (p->Active() ? "(open)" : "(closed)")); });
  }
};

// A pseudo-terminal pair; the component opens the slave by its name (a
// path on Linux, the COM name the bridge gave it on Windows). A failure of
// the far end is a test failure.
class Pty {
 public:
  Pty() {
    if (!pair_.ok()) ADD_FAILURE() << "no pseudo-terminal";
#ifndef _WIN32
    slave_ = ::open(pair_.path().c_str(), O_RDWR | O_NOCTTY);
#endif
  }
#ifndef _WIN32
  ~Pty() {
    if (slave_ >= 0) ::close(slave_);
  }
  // The slave, opened before the port opens it (Linux only: its termios).
  int Slave() const { return slave_; }
#endif
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& Path() const { return pair_.path(); }
  QString QPath() const { return QString::fromStdString(pair_.path()); }

  // The far end sends bytes to the port.
  void Send(const std::string& bytes) const {
    if (!pair_.Send(bytes)) ADD_FAILURE() << "writing the far end failed";
  }
  // The far end receives 'count' bytes the port sent (fewer when none
  // come for 'idleMs'; 0 takes only what is there already).
  std::string Receive(size_t count, int idleMs = 10000) const { return pair_.Receive(count, idleMs); }
  // Hangs the line up, as a pulled adapter does.
  void CloseMaster() { pair_.CloseMaster(); }

 private:
  PtyPair pair_;
#ifndef _WIN32
  int slave_ = -1;
#endif
};

// The line settings of an open port as the system holds them: on Linux the
// slave's termios as the kernel keeps it, on Windows the comm state the
// system's driver reports for the port's own handle. Made before the port
// opens.
struct LineSettings {
  unsigned speed = 0;
  int dataBits = 0;
  bool parity = false;
  bool twoStopBits = false;
};

class LineProbe {
 public:
  LineProbe(TCustomComPort& port, const Pty& pty) : pty_(pty) {
#ifdef _WIN32
    // The port's own device, kept as it opens it.
    port.SetDeviceFactory([device = device_](const std::string& name) {
      platform::SerialDevicePtr opened = platform::OpenSerialDevice(name);
      *device = opened;
      return opened;
    });
#else
    static_cast<void>(port);
#endif
  }

  LineSettings Read() const {
    LineSettings line;
#ifdef _WIN32
    const platform::SerialDevicePtr device = device_->lock();
    platform::DCB dcb;
    if (!device || !device->GetCommState(dcb)) {
      ADD_FAILURE() << "the port's comm state cannot be read";
      return line;
    }
    line.speed = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity != 0;
    line.twoStopBits = dcb.StopBits == 2;
#else
    const TerminalAttributes a = ReadTerminal(pty_.Slave());
    line.speed = a.outputSpeed;
    line.dataBits = a.dataBits;
    line.parity = a.parity;
    line.twoStopBits = a.twoStopBits;
#endif
    return line;
  }

 private:
  const Pty& pty_;
  std::shared_ptr<std::weak_ptr<platform::SerialDevice>> device_ =
      std::make_shared<std::weak_ptr<platform::SerialDevice>>();
};

// The entry texts of a log file, without their time stamps.
inline std::vector<std::string> LogEntries(const QString& path) {
  QFile file(path);
  std::vector<std::string> entries;
  if (!file.open(QIODevice::ReadOnly)) return entries;
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (line.isEmpty()) continue;
    // The stamp is a date and a time; the entry follows the time's blank.
    const QByteArray trimmed = line.endsWith('\r') ? line.chopped(1) : line;
    // The entry is the earliest known entry text in the line.
    qsizetype first = -1;
    for (const char* text :
         {"Break", "CTSChange", "DSRChange", "LineError", "Event1", "Event2", "PrinterError", "Ring", "RLSDChange",
          "Rx80PercFull", "RxChar", "RxFlag", "TxEmpty", "Read", "Write", "Open", "Close"}) {
      const qsizetype at = trimmed.indexOf(QByteArray(" ") + text);
      if (at >= 0 && (first < 0 || at < first)) first = at;
    }
    if (first >= 0) entries.push_back(trimmed.mid(first + 1).toStdString());
  }
  return entries;
}

// Runs 'action' on the user-interface thread right before the first call
// that another thread has queued there (a synchronized call) runs: the test
// acts while that call is certainly waiting in the queue.
class BeforeQueuedCall : public QObject {
 public:
  explicit BeforeQueuedCall(std::function<void()> action) : action_(std::move(action)) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~BeforeQueuedCall() override { QCoreApplication::instance()->removeEventFilter(this); }
  bool Ran() const { return ran_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (!ran_ && TPostedCall::Is(event)) {
      ran_ = true;
      action_();
    }
    return false;
  }

 private:
  std::function<void()> action_;
  bool ran_ = false;
};

// Runs the event loop until 'condition' holds; false after a generous limit.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace comporttest
