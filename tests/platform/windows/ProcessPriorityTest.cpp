// The process priority class on Windows: the system's own classes, a
// change undone exactly, the threads' relative priorities kept.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>

#include "platform/LastError.h"
#include "platform/ProcessPriority.h"

using namespace platform;

namespace {

// Puts the test program's class back whatever a test does.
class ProcessPriority : public ::testing::Test {
 protected:
  void TearDown() override { ::SetPriorityClass(::GetCurrentProcess(), before_); }

 private:
  DWORD before_ = ::GetPriorityClass(::GetCurrentProcess());
};

constexpr uint32_t kClasses[] = {IDLE_PRIORITY_CLASS,         BELOW_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
                                 ABOVE_NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS,         REALTIME_PRIORITY_CLASS};

TEST_F(ProcessPriority, EveryClassIsSetAndReadBack) {
  for (const uint32_t cls : kClasses) {
    SCOPED_TRACE(cls);
    ASSERT_TRUE(SetProcessPriorityClass(cls));
    // Without the right to real time the system gives the high class.
    const uint32_t now = GetProcessPriorityClass();
    EXPECT_TRUE(now == cls || (cls == REALTIME_PRIORITY_CLASS && now == HIGH_PRIORITY_CLASS)) << now;
    EXPECT_EQ(now, ::GetPriorityClass(::GetCurrentProcess()));
  }
}

// What is no class (the background mode among them, which could not be put
// back as a class) changes nothing and says why.
TEST_F(ProcessPriority, WhatIsNoClassIsRefusedAndChangesNothing) {
  ASSERT_TRUE(SetProcessPriorityClass(BELOW_NORMAL_PRIORITY_CLASS));
  for (const uint32_t cls : {0u, 0x10u, 0x100000u /* background mode */, 0x12345u}) {
    SCOPED_TRACE(cls);
    platform::SetLastError(0);
    EXPECT_FALSE(SetProcessPriorityClass(cls));
    EXPECT_EQ(platform::GetLastError(), kErrorInvalidParameter);
    platform::SetLastError(0);
    EXPECT_FALSE(ChangeProcessPriorityClass(cls).has_value());
    EXPECT_EQ(platform::GetLastError(), kErrorInvalidParameter);
    EXPECT_EQ(GetProcessPriorityClass(), BELOW_NORMAL_PRIORITY_CLASS);
  }
}

// From every class to every other and back: the class before comes back
// exactly (also those between the four the component uses), and a thread
// keeps its priority relative to the class throughout.
TEST_F(ProcessPriority, AChangeOfClassIsUndoneExactly) {
  HANDLE thread = ::GetCurrentThread();
  const int threadBefore = ::GetThreadPriority(thread);
  ASSERT_TRUE(::SetThreadPriority(thread, THREAD_PRIORITY_LOWEST));
  for (const uint32_t from : kClasses) {
    for (const uint32_t to : {IDLE_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS}) {
      SCOPED_TRACE(testing::Message() << from << " -> " << to);
      ASSERT_TRUE(SetProcessPriorityClass(from));
      const uint32_t start = GetProcessPriorityClass();
      platform::SetLastError(1);
      const std::optional<SavedProcessPriority> saved = ChangeProcessPriorityClass(to);
      ASSERT_TRUE(saved.has_value());
      EXPECT_EQ(platform::GetLastError(), 0);
      EXPECT_EQ(GetProcessPriorityClass(), to);
      EXPECT_EQ(::GetThreadPriority(thread), THREAD_PRIORITY_LOWEST);
      EXPECT_TRUE(RestoreProcessPriority(*saved));
      EXPECT_EQ(GetProcessPriorityClass(), start);
      EXPECT_EQ(::GetThreadPriority(thread), THREAD_PRIORITY_LOWEST);
    }
  }
  ::SetThreadPriority(thread, threadBefore);
}

}  // namespace
