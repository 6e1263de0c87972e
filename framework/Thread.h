// TThread: a worker thread with a Terminated flag, priorities,
// free-on-terminate and Synchronize, the synchronous call onto the
// user-interface thread.
//
// Priorities are the system's per-thread priorities (platform/ThreadPriority.h):
// on Linux nice values relative to the nice value of the thread that starts
// the worker ("base"), clamped to -20..19:
//   tpIdle 19 (always the lowest), tpLowest base+10, tpLower base+5,
//   tpNormal base, tpHigher base-5, tpHighest base-10,
//   tpTimeCritical -20 (always the highest);
// on Windows the thread priorities of the same names.
// Raising a thread above its base needs the right to do so (on Linux
// CAP_SYS_NICE or RLIMIT_NICE). A refusal when the thread starts is ignored;
// a refusal of SetPriority on a running thread raises EThread with the
// system's message.
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "framework/Exception.h"

namespace Classes {
Q_NAMESPACE
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
Q_ENUM_NS(TThreadPriority)
}  // namespace Classes

using Classes::TThreadPriority;
using enum Classes::TThreadPriority;

class TThread {
 public:
  // The platform thread starts with Start(). C++ cannot run Execute before
  // the most-derived constructor has finished, so a thread made with
  // createSuspended false starts when it is made through Create<T>(...);
  // made with plain new, it waits for Start() like a suspended one.
  explicit TThread(bool createSuspended);
  // Not for a running free-on-terminate thread (it deletes itself). For any
  // other started thread: marks it terminated and waits until it has ended.
  // A derived class whose Execute uses its own members should do the same
  // in its destructor, before those members go.
  virtual ~TThread();

  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Makes a thread of class T and starts it unless it was created suspended.
  template <class T, class... A>
  static T* Create(A&&... args) {
    T* thread = new T(std::forward<A>(args)...);
    if (!thread->createSuspended_) thread->Start();
    return thread;
  }

  // Starts the platform thread; does nothing when it has been started.
  // Raises EThread when the system cannot create a thread. A
  // free-on-terminate thread may be gone as soon as this returns.
  void Start();

  // Asks Execute to stop: sets Terminated.
  void Terminate() { terminated_.store(true, std::memory_order_release); }
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  // When set, the object deletes itself as soon as Execute returns or raises.
  bool FreeOnTerminate() const { return freeOnTerminate_.load(std::memory_order_acquire); }
  void SetFreeOnTerminate(bool value) { freeOnTerminate_.store(value, std::memory_order_release); }

  TThreadPriority Priority() const;
  void SetPriority(TThreadPriority priority);

  // True once Execute has returned or raised.
  bool Finished() const;
  // Waits until Execute has ended (at once when never started). On the
  // user-interface thread it keeps running synchronized calls meanwhile,
  // so a worker blocked in Synchronize cannot deadlock it. Not for a
  // free-on-terminate thread and not from the thread itself: EThread.
  void WaitFor();
  // The exception that ended Execute, if any (kept, never shown).
  std::exception_ptr FatalException() const;
  // The system's id of the running thread; 0 before start and after the end.
  long long ThreadId() const;

  static bool IsUiThread();
  // Makes sure that synchronized calls can reach the user-interface thread,
  // under any application object (call it there; Start does so). False
  // when there is no application object to run them.
  static bool PrepareSynchronize();

  // Runs fn on the user-interface thread and waits until it has run there;
  // an exception it raises is raised again here. On the user-interface
  // thread fn runs at once. The call travels as one event posted to an
  // object of the application on the user-interface thread, so it also
  // runs inside modal loops (an open message box). Raises EThread when
  // there is no application object to run it, or when the application goes
  // away before it ran.
  static void Synchronize(const std::function<void()>& fn);
  // Runs fn on the user-interface thread like Synchronize, but returns once
  // the call is queued, so the caller sleeps only where it would anyway.
  // fn must stay valid until it has run. A thread's calls still run one at
  // a time and in order: its next Queue or Synchronize first waits until
  // this call has run or was dropped (free when it has), and so does a
  // TThread as it ends. An exception fn raises goes to the application's
  // exception display. Raises EThread when there is no application object
  // to run it.
  static void Queue(const std::function<void()>& fn);
  // Waits until the calling thread's queued call, if any, has run or was
  // dropped.
  static void WaitForQueued();
  // The same for a method of this thread object.
  template <class T>
  void Synchronize(void (T::*method)()) {
    T* self = static_cast<T*>(this);
    // Captured by reference (the call ends before this returns): small
    // enough to live inside the function object, so nothing is allocated.
    Synchronize(std::function<void()>([&self, &method] { (self->*method)(); }));
  }

 protected:
  virtual void Execute() = 0;

 private:
  void Run() noexcept;
  // The thread has left Run: it is no longer among the running ones, and a
  // thread that frees itself hands over its system thread, 'self', to be
  // joined (at the next Start, or at the program's exit).
  void Ended(std::thread self);

  const bool createSuspended_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> freeOnTerminate_{false};

  mutable std::mutex mutex_;  // guards everything below
  std::thread thread_;
  bool started_ = false;
  bool finished_ = false;
  long long tid_ = 0;
  int basePriority_ = 0;  // what priorities are relative to (the starter's)
  TThreadPriority priority_ = tpNormal;
  std::exception_ptr fatal_;
};
