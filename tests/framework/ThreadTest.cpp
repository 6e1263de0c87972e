// TThread: Synchronize onto the user-interface thread (also inside a
// modal box, with exceptions carried back), queued calls, free-on-terminate,
// termination, waiting, priority names (the system's priorities:
// linux/ and windows/ThreadPriorityTest.cpp).
#include <gtest/gtest.h>

#include <QMetaEnum>

#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/MessageBox.h"
#include "framework/Thread.h"
#include "tests/framework/BoxAnswerer.h"
#include "tests/framework/FnThread.h"

namespace {

constexpr auto kLimit = std::chrono::seconds(10);

// Collects what reaches the application's exception display.
struct ShownErrors {
  ShownErrors() {
    Application->OnException =
        TExceptionEvent::Bind([this](TObject*, const Exception& e) { messages.push_back(e.Message()); });
  }
  ~ShownErrors() { Application->OnException = nullptr; }
  std::vector<std::string> messages;
};

TEST(ThreadTest, SynchronizeRunsOnTheUiThreadAndCarriesErrorsBack) {
  ASSERT_TRUE(TThread::IsUiThread());
  bool ranOnUi = false;
  bool ranAfterError = false;
  std::string caught;
  FnThread worker([&](FnThread&) {
    EXPECT_FALSE(TThread::IsUiThread());
    TThread::Synchronize([&] { ranOnUi = TThread::IsUiThread(); });
    try {
      TThread::Synchronize([] { throw EInOutError("Disk full", 28); });
    } catch (const EInOutError& e) {
      caught = e.Message() + "/" + std::to_string(e.ErrorCode);
    }
    // The thread's next call starts clean: the error went with the last one.
    EXPECT_NO_THROW(TThread::Synchronize([&] { ranAfterError = true; }));
  });
  worker.Start();
  worker.WaitFor();  // runs the worker's calls meanwhile: no deadlock
  EXPECT_TRUE(ranOnUi);
  EXPECT_EQ(caught, "Disk full/28");
  EXPECT_TRUE(ranAfterError);
  EXPECT_EQ(worker.FatalException(), nullptr);
}

TEST(ThreadTest, QueuedCallsReturnAtOnceAndRunInOrderBeforeTheirThreadEnds) {
  std::vector<std::string> ran;
  std::promise<void> queued;
  ShownErrors shown;
  const std::function<void()> first = [&] { ran.push_back(TThread::IsUiThread() ? "first" : "off"); };
  const std::function<void()> failing = [&] {
    ran.push_back("failing");
    throw Exception("queued call failed");
  };
  const std::function<void()> last = [&] { ran.push_back("last"); };
  FnThread worker([&](FnThread&) {
    TThread::Queue(first);
    queued.set_value();  // while the event loop does not run
    TThread::Queue(failing);  // waits for the first to run
    TThread::Queue(last);
    // The thread ends only after its last call has run.
  });
  worker.Start();
  ASSERT_EQ(queued.get_future().wait_for(kLimit), std::future_status::ready);
  EXPECT_TRUE(ran.empty());
  worker.WaitFor();  // runs the worker's calls meanwhile
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "failing", "last"}));
  EXPECT_EQ(shown.messages, std::vector<std::string>{"queued call failed"});
  EXPECT_EQ(worker.FatalException(), nullptr);
}

TEST(ThreadTest, SynchronizeOnTheUiThreadRunsAtOnce) {
  int calls = 0;
  TThread::Synchronize([&] { ++calls; });
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(TThread::Synchronize([] { throw Exception("direct"); }), Exception);
}

TEST(ThreadTest, SynchronizeRunsInsideAModalBox) {
  std::unique_ptr<FnThread> worker;
  bool ranOnUi = false;
  BoxAnswerer answerer([&](QMessageBox* box) {
    // The worker closes the box from a synchronized call: it can only
    // return if the call runs in the box's own loop.
    worker = std::make_unique<FnThread>([&, box](FnThread&) {
      TThread::Synchronize([&] {
        ranOnUi = TThread::IsUiThread();
        box->button(QMessageBox::Ok)->click();
      });
    });
    worker->Start();
  });
  EXPECT_EQ(MessageBox(nullptr, "Waiting", "Note", MB_OK), IDOK);
  ASSERT_NE(worker, nullptr);
  worker->WaitFor();
  EXPECT_TRUE(ranOnUi);
}

// Swallows every synchronized call before it can run, as happens to the
// calls still queued when the application object goes away.
struct CallSwallower : QObject {
  bool eventFilter(QObject*, QEvent* event) override { return TPostedCall::Is(event); }
};

TEST(ThreadTest, SynchronizeFailsInsteadOfBlockingWhenTheCallCannotRun) {
  CallSwallower swallower;
  Application->installEventFilter(&swallower);
  bool ran = false;
  std::string failure;
  FnThread worker([&](FnThread&) {
    try {
      TThread::Synchronize([&] { ran = true; });
    } catch (const EThread& e) {
      failure = e.Message();
    }
  });
  worker.Start();
  worker.WaitFor();
  Application->removeEventFilter(&swallower);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(failure.empty());
}

TEST(ThreadTest, FreeOnTerminateDeletesTheObjectAlsoAfterAnError) {
  for (const bool raise : {false, true}) {
    std::promise<void> destroyed;
    auto* thread = new FnThread([raise](FnThread&) {
      if (raise) throw std::runtime_error("ends the thread quietly");
    });
    thread->destroyed = &destroyed;
    thread->SetFreeOnTerminate(true);
    thread->Start();
    EXPECT_EQ(destroyed.get_future().wait_for(kLimit), std::future_status::ready) << raise;
  }
}

TEST(ThreadTest, TerminateEndsTheLoopAndWaitForKeepsTheError) {
  std::promise<void> running;
  FnThread loop([&](FnThread& self) {
    running.set_value();
    while (!self.Terminated()) std::this_thread::yield();
    throw Exception("after the loop");
  });
  loop.Start();
  running.get_future().wait();
  EXPECT_FALSE(loop.Finished());
  loop.Terminate();
  loop.WaitFor();
  EXPECT_TRUE(loop.Finished());
  EXPECT_EQ(loop.ThreadId(), 0);
  EXPECT_THROW(std::rethrow_exception(loop.FatalException()), Exception);

  FnThread neverStarted([](FnThread&) {});
  neverStarted.WaitFor();  // returns at once
  EXPECT_FALSE(neverStarted.Finished());
}

TEST(ThreadTest, CreateStartsUnlessSuspended) {
  std::promise<void> ran;
  std::unique_ptr<FnThread> started(
      TThread::Create<FnThread>([&](FnThread&) { ran.set_value(); }, /*createSuspended=*/false));
  EXPECT_EQ(ran.get_future().wait_for(kLimit), std::future_status::ready);
  started->WaitFor();
  bool suspendedRan = false;
  std::unique_ptr<FnThread> suspended(TThread::Create<FnThread>([&](FnThread&) { suspendedRan = true; }, true));
  suspended->WaitFor();
  EXPECT_FALSE(suspendedRan);
}

TEST(ThreadTest, PriorityNamesAreStoredByName) {
  const QMetaEnum priorities = QMetaEnum::fromType<TThreadPriority>();
  EXPECT_STREQ(priorities.valueToKey(tpTimeCritical), "tpTimeCritical");
  EXPECT_EQ(priorities.keyToValue("tpIdle"), tpIdle);
}

}  // namespace
