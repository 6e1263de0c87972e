// A program's exit waits for a self-freeing thread that was told to stop
// before it goes on: a thread cut off while it frees its memory may hold a
// lock the exit needs (on Windows the exiting program then hangs). The test
// runs this program again as a child that starts such a thread, tells it
// to stop and exits; exit handlers before and after the framework's own
// release the thread and look whether it has ended.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>

#include "framework/FnThread.h"

namespace {

constexpr char kChild[] = "QL75N_THREAD_EXIT_CHILD";

std::mutex exitMutex;
std::condition_variable exitChanged;
bool exiting = false;
std::promise<void> destroyed;
std::future<void> gone = destroyed.get_future();

// Registered after the thread started: runs before the framework's handler.
void ReleaseTheThread() {
  {
    std::lock_guard lock(exitMutex);
    exiting = true;
  }
  exitChanged.notify_all();
}

// Registered before the thread started: runs after the framework's handler.
void ReportWhetherItEnded() {
  const bool ended = gone.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  std::fputs(ended ? "ended before the exit went on\n" : "still running at the exit\n", stdout);
  std::fflush(stdout);
}

void RunChild() {
  std::atexit(ReportWhetherItEnded);
  auto* thread = new FnThread([](FnThread&) {
    // Stopped, it still has work to do once the program exits.
    std::unique_lock lock(exitMutex);
    exitChanged.wait(lock, [] { return exiting; });
  });
  thread->destroyed = &destroyed;
  thread->SetFreeOnTerminate(true);
  thread->Start();
  std::atexit(ReleaseTheThread);
  thread->Terminate();
  std::exit(0);
}

}  // namespace

TEST(ThreadExit, AStoppedSelfFreeingThreadEndsBeforeTheExitGoesOn) {
  if (qEnvironmentVariableIsSet(kChild)) RunChild();
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(kChild, "1");
  child.setProcessEnvironment(environment);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=ThreadExit.*"});
  ASSERT_TRUE(child.waitForFinished(60000)) << "the child did not end";
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_TRUE(child.readAllStandardOutput().contains("ended before the exit went on"));
}
