// The application object: title and executable, the standard exception
// display, and the guards that keep exceptions out of Qt's event loop.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <QPushButton>
#include <QTest>

#include <stdexcept>
#include <thread>

#include "framework/Application.h"
#include "framework/Guard.h"
#include "tests/framework/BoxAnswerer.h"

namespace {

TEST(ApplicationTest, TitleAndExeName) {
  ASSERT_NE(Application, nullptr);
  EXPECT_EQ(Application, qApp);
  Application->SetTitle("QL75N Gateway Audio Level Adjustment");
  EXPECT_EQ(Application->Title(), "QL75N Gateway Audio Level Adjustment");
  const QFileInfo exe(Application->ExeName());
  EXPECT_TRUE(exe.isAbsolute());
  EXPECT_TRUE(exe.isExecutable());
  EXPECT_EQ(exe.completeBaseName(), "framework_tests");  // with ".exe" on Windows
}

TEST(ApplicationTest, StandardDisplayShowsTheMessage) {
  struct Case {
    std::exception_ptr error;
    QString shown;
  };
  const Case cases[] = {
      {std::make_exception_ptr(Exception("Port gone")), "Port gone"},
      {std::make_exception_ptr(std::runtime_error("Plain failure")), "Plain failure"},
      {std::make_exception_ptr(42), ""},
  };
  Application->SetTitle("Caption");
  QWidget window;
  window.show();
  for (const Case& c : cases) {
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    BoxAnswerer answerer;
    Application->HandleException(c.error);
    ASSERT_EQ(answerer.seen.size(), 1);
    EXPECT_EQ(answerer.seen.front().text, c.shown);
    EXPECT_EQ(answerer.seen.front().caption, "Caption");
    EXPECT_EQ(answerer.seen.front().icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.seen.front().owner, &window);
  }
}

TEST(ApplicationTest, AbortIsSilentAndOnExceptionReplacesTheBox) {
  BoxAnswerer answerer;
  Application->HandleException(std::make_exception_ptr(EAbort()));
  EXPECT_TRUE(answerer.seen.isEmpty());

  QStringList handled;
  Application->OnException = TExceptionEvent::Bind([&](TObject* sender, const Exception& e) {
    EXPECT_EQ(sender, Application);
    handled << QString::fromStdString(e.Message());
  });
  Application->HandleException(std::make_exception_ptr(std::runtime_error("To the hook")));
  Application->HandleException(std::make_exception_ptr(EAbort()));
  Application->OnException = nullptr;
  EXPECT_EQ(handled, QStringList{"To the hook"});
  EXPECT_TRUE(answerer.seen.isEmpty());
}

struct Throwing : QObject {
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw Exception("From an event");
    return QObject::event(e);
  }
};

TEST(ApplicationTest, GuardedSlotsAndEventsShowTheErrorAndGoOn) {
  BoxAnswerer answerer;
  QPushButton button;
  int clicks = 0;
  GuardedConnect(&button, &QPushButton::clicked, &button, [&] {
    if (++clicks == 1) throw Exception("Click failed");
  });
  button.click();
  button.click();
  EXPECT_EQ(clicks, 2);

  // An exception escaping an event handler stops at notify().
  Throwing receiver;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&receiver, &event);

  ASSERT_EQ(answerer.seen.size(), 2);
  EXPECT_EQ(answerer.seen[0].text, "Click failed");
  EXPECT_EQ(answerer.seen[1].text, "From an event");
}

TEST(ApplicationTest, GuardedConnectPassesSignalArguments) {
  QPushButton button;
  button.setCheckable(true);
  bool seen = false;
  GuardedConnect(&button, &QPushButton::toggled, &button, [&](bool checked) { seen = checked; });
  button.click();
  EXPECT_TRUE(seen);
}

TEST(ApplicationTest, ErrorOnAWorkerThreadIsShownOnTheUiThread) {
  BoxAnswerer answerer;
  std::thread worker([] { Guarded([] { throw Exception("From a worker"); }); });
  worker.join();
  // The box comes from the event loop, on the user-interface thread.
  QElapsedTimer clock;
  clock.start();
  while (answerer.seen.isEmpty() && clock.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  ASSERT_EQ(answerer.seen.size(), 1);
  EXPECT_EQ(answerer.seen.front().text, "From a worker");
}

TEST(ApplicationTest, RunEndsWhenTheMainWindowCloses) {
  QWidget mainWindow;
  mainWindow.show();
  QTimer::singleShot(0, &mainWindow, [&] { mainWindow.close(); });
  EXPECT_EQ(Application->Run(), 0);
}

}  // namespace
