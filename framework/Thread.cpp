#include "framework/Thread.h"

#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <system_error>

#include "framework/Application.h"
#include "framework/Guard.h"
#include "platform/LastError.h"
#include "platform/ThreadPriority.h"

namespace {

// Wakes every WaitFor when a thread ends or a synchronized call is posted
// (a WaitFor on the user-interface thread runs such calls while it waits).
// Never destroyed: a free-on-terminate thread may still post while the
// program exits.
struct WaitState {
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t generation = 0;
  // WaitFor calls on the user-interface thread: only they care that a call
  // was posted, so a post wakes nobody while there are none.
  std::atomic<int> uiWaiters{0};
};

WaitState& Waits() {
  static WaitState* const state = new WaitState;
  return *state;
}

void NotifyWaiters() {
  WaitState& waits = Waits();
  {
    std::lock_guard lock(waits.mutex);
    ++waits.generation;
  }
  waits.changed.notify_all();
}

std::uint64_t WaitGeneration() {
  WaitState& waits = Waits();
  std::lock_guard lock(waits.mutex);
  return waits.generation;
}

void WaitForChangeFrom(std::uint64_t generation) {
  WaitState& waits = Waits();
  std::unique_lock lock(waits.mutex);
  waits.changed.wait(lock, [&] { return waits.generation != generation; });
}

// The started threads, and the threads that freed themselves but whose
// system thread may still be ending. The program's exit waits (for a
// limited time) until no thread that frees itself and was told to stop is
// still running, and then joins the ended ones: a thread cut off by the
// exit while it frees its memory may hold the heap's lock, and the exiting
// program then hangs (Windows ends the other threads first). A thread never
// told to stop is not waited for. Never destroyed, like WaitState.
struct ThreadList {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<const TThread*> running;
  std::vector<std::thread> ended;  // freed themselves; joined later

  // The ended threads, to be joined outside the lock.
  std::vector<std::thread> TakeEnded() {
    std::lock_guard lock(mutex);
    return std::exchange(ended, {});
  }
};

ThreadList& Threads() {
  static ThreadList* const list = new ThreadList;
  return *list;
}

void JoinAll(std::vector<std::thread> threads) {
  for (std::thread& t : threads) t.join();
}

void WaitForStoppingThreadsAtExit() {
  ThreadList& threads = Threads();
  {
    std::unique_lock lock(threads.mutex);
    threads.changed.wait_for(lock, std::chrono::seconds(5), [&] {
      return std::none_of(threads.running.begin(), threads.running.end(),
                          [](const TThread* t) { return t->FreeOnTerminate() && t->Terminated(); });
    });
  }
  JoinAll(threads.TakeEnded());
}

EThread SystemError(int code) { return EThread(std::system_category().message(code)); }

// A thread's synchronized calls: it has at most one in flight, since it
// waits for it, so one record per thread serves them all, including the
// storage of the event that carries the call (Qt deletes posted events, so
// the event's own deallocation hands the storage back). The caller sleeps
// on a semaphore: one wake-up, and no lock to take again once woken.
//
// The user-interface thread may free an event after its caller has gone on
// or even ended; the record then lives until both have let go of it.
class CallRecord {
 public:
  CallRecord() noexcept { sem_init(&done_, 0, 0); }
  ~CallRecord() { sem_destroy(&done_); }
  CallRecord(const CallRecord&) = delete;
  CallRecord& operator=(const CallRecord&) = delete;

  // The last touch of the record by the running side but for handing the
  // storage back: the caller may return at once. Hands over the only
  // reference to the error, so the caller alone may release it.
  void Finish(std::exception_ptr error) noexcept {
    error_ = std::move(error);
    sem_post(&done_);
  }

  // Blocks until the call has finished; its error, if any.
  std::exception_ptr Wait() noexcept {
    while (sem_wait(&done_) != 0) {
      // Only a signal interrupts the wait.
    }
    return std::move(error_);
  }

  // The owning thread's queued call: noted when it is posted, waited for
  // before the next call. A finished call has already counted the
  // semaphore up, so that wait neither sleeps nor makes a system call.
  void Queued() noexcept { queued_ = true; }
  void WaitForQueued() noexcept {
    if (!queued_) return;
    queued_ = false;
    Wait();
  }

  // Event storage for the owning thread, or null when the call is too
  // large or both places are taken. Two places: the user-interface thread
  // frees an event after releasing its caller, whose next call may come
  // first; a third cannot, as the caller waits for each call to finish.
  void* TakeStorage(std::size_t size, unsigned& place) noexcept {
    if (size > kStorageSize) return nullptr;
    const unsigned state = state_.load(std::memory_order_acquire);
    for (place = 0; place < kPlaces; ++place) {
      if (state & BusyBit(place)) continue;
      state_.fetch_or(BusyBit(place), std::memory_order_acquire);  // only this thread sets it
      return storage_[place];
    }
    return nullptr;
  }

  // From the event's deallocation, on any thread.
  void GiveBackStorage(unsigned place) noexcept {
    const unsigned was = state_.fetch_and(~BusyBit(place), std::memory_order_acq_rel);
    if ((was & kOrphaned) && (was & ~kOrphaned) == BusyBit(place)) delete this;
  }

  // From the owning thread's end.
  void Orphan() noexcept {
    if ((state_.fetch_or(kOrphaned, std::memory_order_acq_rel) & ~kOrphaned) == 0) delete this;
  }

  static constexpr std::size_t kStorageSize = 128;

 private:
  static constexpr unsigned kPlaces = 2;
  static constexpr unsigned kOrphaned = 1u << kPlaces;
  static constexpr unsigned BusyBit(unsigned place) { return 1u << place; }

  sem_t done_;
  std::exception_ptr error_;
  bool queued_ = false;  // owning thread only
  std::atomic<unsigned> state_{0};
  alignas(std::max_align_t) unsigned char storage_[kPlaces][kStorageSize];
};

// The calling thread's record, made on its first synchronized call and
// orphaned when the thread ends. It is kept under a thread key, not in a
// thread-local object: where thread-local storage is emulated (mingw-w64's
// threads), that storage may be freed before a thread-local object's
// destructor runs at the thread's end, which would then read a freed
// pointer. A key's value is the thread library's own and is handed to the
// key's destructor.
class ThreadRecord {
 public:
  ThreadRecord() noexcept {
    pthread_key_create(&key_, [](void* record) { static_cast<CallRecord*>(record)->Orphan(); });
  }
  CallRecord& Get() {
    CallRecord* record = Find();
    if (record == nullptr) {
      record = new CallRecord;
      pthread_setspecific(key_, record);
    }
    return *record;
  }
  CallRecord* Find() const { return static_cast<CallRecord*>(pthread_getspecific(key_)); }

 private:
  pthread_key_t key_{};
};

// Never destroyed: threads may end after static destruction has begun.
ThreadRecord& threadRecord = *new ThreadRecord;

// One synchronized or queued call, posted to the application object. The
// caller waits on its record until the call has run, or until the event is
// destroyed unrun because the application went away; a queued call's
// caller only at its next call.
class SynchronizedCall final : public TPostedCall {
 public:
  SynchronizedCall(const std::function<void()>& fn, CallRecord& record, bool queued)
      : fn_(fn), record_(record), queued_(queued) {}

  ~SynchronizedCall() override {
    if (ran_) return;
    if (queued_) {
      // Nobody waits for its outcome.
      record_.Finish(nullptr);
      return;
    }
    // Thrown, not copied: no temporary on this thread shares the message
    // with the exception the caller receives.
    std::exception_ptr error;
    try {
      throw EThread("The application ended before a synchronized call could run");
    } catch (...) {
      error = std::current_exception();
    }
    record_.Finish(std::move(error));
  }

  void Run() noexcept override {
    std::exception_ptr error;
    try {
      fn_();
    } catch (...) {
      error = std::current_exception();
    }
    ran_ = true;
    if (queued_ && error) {
      ReportException(std::move(error));
      error = nullptr;
    }
    record_.Finish(std::move(error));
  }

  // Made in the calling thread's record when its storage is free, else on
  // the heap; a header in front of the object tells which.
  static void* operator new(std::size_t size) {
    CallRecord& record = threadRecord.Get();
    unsigned place = 0;
    auto* header = static_cast<Header*>(record.TakeStorage(sizeof(Header) + size, place));
    if (header != nullptr) {
      header->owner = &record;
      header->place = place;
    } else {
      header = static_cast<Header*>(::operator new(sizeof(Header) + size));
      header->owner = nullptr;
    }
    return header + 1;
  }

  static void operator delete(void* object) noexcept {
    Header* header = static_cast<Header*>(object) - 1;
    if (header->owner != nullptr)
      header->owner->GiveBackStorage(header->place);
    else
      ::operator delete(header);
  }

 private:
  struct alignas(std::max_align_t) Header {
    CallRecord* owner;
    unsigned place;
  };

  const std::function<void()>& fn_;
  CallRecord& record_;
  const bool queued_;
  bool ran_ = false;
};

static_assert(sizeof(SynchronizedCall) + alignof(std::max_align_t) <= CallRecord::kStorageSize,
              "a synchronized call fits in its thread's record");

}  // namespace

TThread::TThread(bool createSuspended) : createSuspended_(createSuspended) {}

TThread::~TThread() {
  bool running;
  {
    std::lock_guard lock(mutex_);
    running = thread_.joinable() && thread_.get_id() != std::this_thread::get_id();
  }
  if (!running) return;
  Terminate();
  try {
    WaitFor();
  } catch (...) {
    // Only reachable for a running free-on-terminate thread deleted from
    // outside, which is a misuse; never throw from a destructor.
  }
}

namespace {
platform::ThreadPriorityLevel LevelOf(TThreadPriority priority) {
  return static_cast<platform::ThreadPriorityLevel>(static_cast<int>(priority) - static_cast<int>(tpIdle));
}
}  // namespace

void TThread::Start() {
  // Started on the user-interface thread, the thread's synchronized calls
  // find their way there also under an application object of Qt's own.
  if (IsUiThread()) PrepareSynchronize();
  static const int atExit = std::atexit(WaitForStoppingThreadsAtExit);
  (void)atExit;
  ThreadList& threads = Threads();
  JoinAll(threads.TakeEnded());  // they have left Run: this takes no time
  std::lock_guard lock(mutex_);
  if (started_) return;
  basePriority_ = platform::CurrentThreadPriorityBase();  // the calling thread's
  {
    std::lock_guard listLock(threads.mutex);
    threads.running.insert(this);
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    std::lock_guard listLock(threads.mutex);
    threads.running.erase(this);
    throw SystemError(e.code().value());
  }
  started_ = true;
}

void TThread::Ended(std::thread self) {
  ThreadList& threads = Threads();
  {
    std::lock_guard lock(threads.mutex);
    threads.running.erase(this);
    if (self.joinable()) threads.ended.push_back(std::move(self));
  }
  threads.changed.notify_all();
}

void TThread::Run() noexcept {
  {
    // Taking the lock also waits until Start has stored thread_.
    std::lock_guard lock(mutex_);
    tid_ = platform::CurrentThreadId();
    // A refusal at start is ignored: the thread keeps its inherited priority.
    platform::SetThreadPriorityLevel(tid_, LevelOf(priority_), basePriority_);
  }
  std::exception_ptr fatal;
  std::thread self;  // a thread that frees itself hands its own on
  try {
    Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  // Whatever a queued call of this thread uses lives until it has run.
  WaitForQueued();
  bool freeSelf;
  {
    std::lock_guard lock(mutex_);
    tid_ = 0;
    freeSelf = FreeOnTerminate();
    if (freeSelf) {
      self = std::move(thread_);
    } else {
      fatal_ = fatal;
      finished_ = true;
    }
  }
  if (freeSelf) {
    fatal = nullptr;  // dropped quietly
    Ended(std::move(self));
    delete this;
    return;
  }
  Ended(std::thread());
  NotifyWaiters();
}

TThreadPriority TThread::Priority() const {
  std::lock_guard lock(mutex_);
  return priority_;
}

void TThread::SetPriority(TThreadPriority priority) {
  std::lock_guard lock(mutex_);
  if (tid_ != 0 && !platform::SetThreadPriorityLevel(tid_, LevelOf(priority), basePriority_))
    throw EThread(platform::SystemErrorMessage(platform::GetLastError()));
  priority_ = priority;
}

bool TThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

long long TThread::ThreadId() const {
  std::lock_guard lock(mutex_);
  return tid_;
}

void TThread::WaitFor() {
  {
    std::lock_guard lock(mutex_);
    if (!started_) return;
    if (thread_.get_id() == std::this_thread::get_id()) throw EThread("A thread cannot wait for itself");
    if (FreeOnTerminate()) throw EThread("Cannot wait for a thread that frees itself");
  }
  const bool onUi = IsUiThread();
  std::atomic<int>& uiWaiters = Waits().uiWaiters;
  // Counted before the first look at the posted calls: a call posted
  // meanwhile is either seen there or wakes this wait.
  if (onUi) uiWaiters.fetch_add(1, std::memory_order_seq_cst);
  struct Uncount {
    std::atomic<int>* waiters;
    ~Uncount() {
      if (waiters) waiters->fetch_sub(1, std::memory_order_seq_cst);
    }
  } uncount{onUi ? &uiWaiters : nullptr};
  for (;;) {
    const std::uint64_t generation = WaitGeneration();
    if (Finished()) break;
    if (onUi) TApplication::RunPostedCalls();
    WaitForChangeFrom(generation);
  }
  std::thread finished;
  {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) finished = std::move(thread_);
  }
  if (finished.joinable()) finished.join();
}

bool TThread::IsUiThread() { return TApplication::OnUiThread(); }

namespace {

// Posts fn from a thread other than the user-interface thread.
void Post(const std::function<void()>& fn, CallRecord& record, bool queued) {
  // A queued call of this thread runs first, and runs alone.
  record.WaitForQueued();
  if (!TApplication::PostCall(std::unique_ptr<TPostedCall>(new SynchronizedCall(fn, record, queued)))) {
    record.Wait();  // the call, destroyed unrun, has released the record: leave it clear
    throw EThread("No application object to run a synchronized call");
  }
  // Ordered after the post: a WaitFor that is not counted yet finds the
  // call when it looks at the posted calls.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (Waits().uiWaiters.load(std::memory_order_seq_cst) > 0) NotifyWaiters();
}

}  // namespace

bool TThread::PrepareSynchronize() { return TApplication::EnsureCallTarget(); }

void TThread::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  CallRecord& record = threadRecord.Get();
  Post(fn, record, false);
  if (std::exception_ptr error = record.Wait()) std::rethrow_exception(error);
}

void TThread::Queue(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  CallRecord& record = threadRecord.Get();
  Post(fn, record, true);
  record.Queued();
}

void TThread::WaitForQueued() {
  if (CallRecord* record = threadRecord.Find()) record->WaitForQueued();
}
