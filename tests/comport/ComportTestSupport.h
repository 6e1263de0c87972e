// Shared pieces of the component's tests: a port that opens the scripted
// device double, a recorder of the open/close events, and a pseudo-terminal
// whose far end the test holds.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TerminalAttributes.h"
#include "comport/Comport.h"
#include "framework/Application.h"
#include "support/FakeSerialDevice.h"

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

// A pseudo-terminal pair; the component opens the slave by its path.
class Pty {
 public:
  Pty() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) ADD_FAILURE() << "openpty failed";
    path_ = name;
  }
  ~Pty() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& Path() const { return path_; }
  QString QPath() const { return QString::fromStdString(path_); }
  int Slave() const { return slave_; }
  int Master() const { return master_; }

  // The far end sends bytes to the port.
  void Send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        ADD_FAILURE() << "writing the far end failed";
        return;
      }
      done += static_cast<size_t>(n);
    }
  }
  // The far end receives 'count' bytes the port sent (fewer when none
  // come for a generous while).
  std::string Receive(size_t count) const {
    std::string bytes;
    char chunk[4096];
    while (bytes.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (n <= 0) break;
      bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
  }
  // Hangs the line up, as a pulled adapter does.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
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
