// Shared pieces of the component's tests: a port that opens the scripted
// device double, a recorder of the open/close events, and a pseudo-terminal
// whose far end the test holds.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "TerminalAttributes.h"
#include "comport/Comport.h"
#include "support/FakeSerialDevice.h"

namespace comporttest {

using testsupport::FakeSerialDevice;
using Op = FakeSerialDevice::Op;

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

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace comporttest
