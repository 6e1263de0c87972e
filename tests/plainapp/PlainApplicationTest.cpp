// The component in programs whose application object is not a TApplication:
// under a plain QApplication its line events reach their handlers on the
// user-interface thread and a handler's error goes to standard error;
// without any application object, line events are refused at once.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "PlainApplication.h"
#include "comport/ComportTestSupport.h"

using namespace comporttest;

namespace {

const std::string kNoApplication = "Line events need an application object";

// What is written to standard error while it lives.
class CapturedStderr {
 public:
  CapturedStderr() {
    EXPECT_TRUE(folder_.isValid());
    const int file = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(file, 0);
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
  }
  ~CapturedStderr() {
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;

  std::string Text() {
    std::fflush(stderr);
    QFile written(path_);
    return written.open(QIODevice::ReadOnly) ? written.readAll().toStdString() : std::string();
  }

 private:
  QTemporaryDir folder_;
  QString path_ = folder_.filePath("stderr.txt");
  int saved_ = -1;
};

}  // namespace

// Declared first, so it runs before any test makes the application object.
TEST(WithoutApplication, LineEventHandlersRaiseInsteadOfStartingAThread) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  port.SetOnRxChar(TNotifyEvent::Bind([](TObject*) {}));
  EComError e = CatchComError([&] { port.Open(); });
  EXPECT_EQ(e.what(), kNoApplication);
  EXPECT_EQ(e.ComErrorCode, 0);
  EXPECT_FALSE(port.Active());

  // Without handlers the port opens; setting one on the open port raises.
  port.SetOnRxChar(nullptr);
  port.Open();
  e = CatchComError([&] { port.SetOnRxChar(TNotifyEvent::Bind([](TObject*) {})); });
  EXPECT_EQ(e.what(), kNoApplication);
  EXPECT_TRUE(port.Active());
}

TEST(UnderPlainQApplication, BytesReachOnRxCharOnTheUserInterfaceThreadWhichAnswers) {
  QApplication& application = PlainApplication();
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  std::string received;
  bool onUi = true;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    onUi = onUi && QThread::currentThread() == application.thread();
    received += port.ReadString();
    if (received == "PING\r") port.WriteString("PONG\r");
  }));
  port.Open();
  pty.Send("PING\r");
  ASSERT_TRUE(WaitUntil([&] { return received == "PING\r"; }));
  EXPECT_TRUE(onUi);
  EXPECT_EQ(pty.Receive(5), "PONG\r");

  // The thread keeps running: the next batch arrives as well.
  pty.Send("more");
  EXPECT_TRUE(WaitUntil([&] { return received == "PING\rmore"; }));
}

TEST(UnderPlainQApplication, AnErrorInAHandlerGoesToStandardErrorAndLaterEventsStillArrive) {
  PlainApplication();
  CapturedStderr captured;
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  int calls = 0;
  port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    port.ReadString();
    if (++calls == 1) throw Exception("handler failed");
  }));
  port.Open();
  pty.Send("x");
  ASSERT_TRUE(WaitUntil([&] { return captured.Text().find("handler failed") != std::string::npos; }));
  pty.Send("y");
  EXPECT_TRUE(WaitUntil([&] { return calls == 2; }));
}
