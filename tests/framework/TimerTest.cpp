// TTimer: when it runs, what keeps or restarts its deadline, and that a
// failing handler is shown while the timer goes on.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <stdexcept>

#include "framework/Application.h"
#include "framework/Timer.h"
#include "tests/framework/BoxAnswerer.h"

namespace {

// Runs the event loop until 'done' or the limit passes.
bool RunUntil(const std::function<bool()>& done, int limitMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return done();
}

TEST(TimerTest, RunsOnlyWhenEnabledWithIntervalAndHandler) {
  struct Case {
    bool enabled;
    int interval;
    bool handler;
    bool running;
  };
  const Case cases[] = {
      {true, 1000, true, true}, {false, 1000, true, false}, {true, 0, true, false}, {true, 1000, false, false}};
  for (const Case& c : cases) {
    TTimer timer;
    timer.SetEnabled(c.enabled);
    timer.SetInterval(c.interval);
    if (c.handler) timer.SetOnTimer(TNotifyEvent::Bind([](TObject*) {}));
    EXPECT_EQ(timer.Running(), c.running) << c.enabled << c.interval << c.handler;
  }
  TTimer fresh;
  EXPECT_TRUE(fresh.Enabled());
  EXPECT_EQ(fresh.Interval(), 1000);
}

TEST(TimerTest, IntervalZeroNeverFires) {
  TTimer timer;
  int calls = 0;
  timer.SetInterval(0);
  timer.SetOnTimer(TNotifyEvent::Bind([&](TObject*) { ++calls; }));
  bool waited = false;
  QTimer::singleShot(100, [&] { waited = true; });
  RunUntil([&] { return waited; });
  EXPECT_EQ(calls, 0);
}

// Touches a 600 ms timer after 300 ms and reports when it first fired.
qint64 FirstFireAfterTouch(const std::function<void(TTimer&)>& touch) {
  TTimer timer;
  timer.SetInterval(600);
  QElapsedTimer clock;
  qint64 firedAt = -1;
  timer.SetOnTimer(TNotifyEvent::Bind([&](TObject*) {
    if (firedAt < 0) firedAt = clock.elapsed();
  }));
  clock.start();
  QTimer::singleShot(300, [&] { touch(timer); });
  RunUntil([&] { return firedAt >= 0; });
  return firedAt;
}

TEST(TimerTest, SameValuesKeepTheDeadlineAndNewIntervalRestarts) {
  // Untouched it fires at 600 ms; a restart at 300 ms would make it 900 ms.
  const qint64 same = FirstFireAfterTouch([](TTimer& t) {
    t.SetInterval(600);
    t.SetEnabled(true);
  });
  EXPECT_GE(same, 590);
  EXPECT_LT(same, 850);
  const qint64 changed = FirstFireAfterTouch([](TTimer& t) { t.SetInterval(500); });
  EXPECT_GE(changed, 790);  // 300 + 500
}

TEST(TimerTest, FailingHandlerIsShownAndTheTimerGoesOn) {
  BoxAnswerer answerer;
  Application->SetTitle("Timer title");
  TTimer timer;
  timer.SetInterval(10);
  int calls = 0;
  timer.SetOnTimer(TNotifyEvent::Bind([&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    if (++calls == 1) throw std::runtime_error("Tick failed");
  }));
  EXPECT_TRUE(RunUntil([&] { return calls >= 3; }));
  ASSERT_EQ(answerer.seen.size(), 1);
  EXPECT_EQ(answerer.seen.front().text, "Tick failed");
  EXPECT_EQ(answerer.seen.front().caption, "Timer title");
  EXPECT_EQ(answerer.seen.front().icon, QMessageBox::Critical);
}

TEST(TimerTest, HandlerMayDisableOrDestroyItsTimer) {
  auto* timer = new TTimer;
  timer->SetInterval(10);
  int calls = 0;
  timer->SetOnTimer(TNotifyEvent::Bind([&](TObject* sender) {
    ++calls;
    delete static_cast<TTimer*>(sender);
  }));
  EXPECT_TRUE(RunUntil([&] { return calls == 1; }));
  bool waited = false;
  QTimer::singleShot(50, [&] { waited = true; });
  RunUntil([&] { return waited; });
  EXPECT_EQ(calls, 1);
}

}  // namespace
