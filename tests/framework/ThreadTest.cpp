// TThread: Synchronize onto the user-interface thread (also inside a
// modal box, with exceptions carried back), free-on-terminate,
// termination, waiting, priorities.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QMetaEnum>

#include <future>
#include <stdexcept>

#include "framework/MessageBox.h"
#include "framework/Thread.h"
#include "tests/framework/BoxAnswerer.h"

namespace {

// Runs a function object as Execute.
class FnThread : public TThread {
 public:
  explicit FnThread(std::function<void(FnThread&)> body, bool createSuspended = true)
      : TThread(createSuspended), body_(std::move(body)) {}
  ~FnThread() override {
    Terminate();
    if (!FreeOnTerminate()) WaitFor();
    if (destroyed) destroyed->set_value();
  }
  std::promise<void>* destroyed = nullptr;
  using TThread::Terminated;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FnThread&)> body_;
};

constexpr auto kLimit = std::chrono::seconds(10);

TEST(ThreadTest, SynchronizeRunsOnTheUiThreadAndCarriesErrorsBack) {
  ASSERT_TRUE(TThread::IsUiThread());
  bool ranOnUi = false;
  std::string caught;
  FnThread worker([&](FnThread&) {
    EXPECT_FALSE(TThread::IsUiThread());
    TThread::Synchronize([&] { ranOnUi = TThread::IsUiThread(); });
    try {
      TThread::Synchronize([] { throw EInOutError("Disk full", 28); });
    } catch (const EInOutError& e) {
      caught = e.Message() + "/" + std::to_string(e.ErrorCode);
    }
  });
  worker.Start();
  worker.WaitFor();  // runs the worker's calls meanwhile: no deadlock
  EXPECT_TRUE(ranOnUi);
  EXPECT_EQ(caught, "Disk full/28");
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

TEST(ThreadTest, PriorityIsTheThreadsNiceValue) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> running;
  FnThread worker([&](FnThread&) {
    running.set_value();
    released.wait();
  });
  worker.SetPriority(tpLower);  // applied when it starts
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, 0);
  worker.Start();
  running.get_future().wait();
  const auto nice = [&] { return getpriority(PRIO_PROCESS, static_cast<id_t>(worker.ThreadId())); };
  EXPECT_EQ(nice(), std::min(base + 5, 19));
  worker.SetPriority(tpLowest);
  EXPECT_EQ(worker.Priority(), tpLowest);
  EXPECT_EQ(nice(), std::min(base + 10, 19));
  release.set_value();
  worker.WaitFor();

  EXPECT_EQ(TThread::NiceValue(tpIdle, 0), 19);
  EXPECT_EQ(TThread::NiceValue(tpNormal, 3), 3);
  EXPECT_EQ(TThread::NiceValue(tpHighest, -15), -20);
  EXPECT_EQ(TThread::NiceValue(tpTimeCritical, 10), -20);
}

TEST(ThreadTest, PriorityNamesAreStoredByName) {
  const QMetaEnum priorities = QMetaEnum::fromType<TThreadPriority>();
  EXPECT_STREQ(priorities.valueToKey(tpTimeCritical), "tpTimeCritical");
  EXPECT_EQ(priorities.keyToValue("tpIdle"), tpIdle);
}

}  // namespace
