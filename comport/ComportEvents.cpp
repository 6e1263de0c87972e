// Line events: the handlers and the event mask they make, the event thread
// (start, stop, its wait and the hand-over of each batch), the dispatch in
// the driver's order, the line-error checks and the path of a failed wait.
#include <QPointer>
#include <iterator>
#include <utility>

#include "comport/Comport.h"
#include "framework/Guard.h"
#include "platform/LastError.h"

namespace {

// The event thread running on this thread, if any.
thread_local const TComThread* currentComThread = nullptr;

// One line event: its driver bit and its log text.
struct LineEvent {
  uint32_t bit;
  const char* logText;
};

// The line events in dispatch order.
// clang-format off
constexpr LineEvent kLineEvents[] = {
    {platform::EV_BREAK, "Break event"},
    {platform::EV_CTS, "CTSChange event"},
    {platform::EV_DSR, "DSRChange event"},
    {platform::EV_ERR, "LineError event"},
    {platform::EV_EVENT1, "Event1 event"},
    {platform::EV_EVENT2, "Event2 event"},
    {platform::EV_PERR, "PrinterError event"},
    {platform::EV_RING, "Ring event"},
    {platform::EV_RLSD, "RLSDChange event"},
    {platform::EV_RX80FULL, "Rx80PercFull event"},
    {platform::EV_RXCHAR, "RxChar event"},
    {platform::EV_RXFLAG, "RxFlag event"},
    {platform::EV_TXEMPTY, "TxEmpty event"},
};
// clang-format on

// Driver error bits by TLineError ordinal.
constexpr uint32_t kLineErrorBits[] = {
    platform::CE_BREAK,  platform::CE_DNS,      platform::CE_FRAME,   platform::CE_IOE,
    platform::CE_MODE,   platform::CE_OOP,      platform::CE_OVERRUN, platform::CE_PTO,
    platform::CE_RXOVER, platform::CE_RXPARITY, platform::CE_TXFULL,
};

}  // namespace

// ---- handlers and the event mask ---------------------------------------------

template <class E>
void TCustomComPort::SetLineEvent(E& field, const E& handler) {
  // Only the method counts: the same method bound to another object keeps
  // the first binding.
  if (field.SameCode(handler)) return;
  field = handler;
  SetComEventMask();
}

void TCustomComPort::SetOnBreak(const TNotifyEvent& handler) { SetLineEvent(FOnBreak, handler); }
void TCustomComPort::SetOnCTSChange(const TNotifyEvent& handler) { SetLineEvent(FOnCTSChange, handler); }
void TCustomComPort::SetOnDSRChange(const TNotifyEvent& handler) { SetLineEvent(FOnDSRChange, handler); }
void TCustomComPort::SetOnLineError(const TLineErrorEvent& handler) { SetLineEvent(FOnLineError, handler); }
void TCustomComPort::SetOnEvent1(const TNotifyEvent& handler) { SetLineEvent(FOnEvent1, handler); }
void TCustomComPort::SetOnEvent2(const TNotifyEvent& handler) { SetLineEvent(FOnEvent2, handler); }
void TCustomComPort::SetOnPrinterError(const TNotifyEvent& handler) { SetLineEvent(FOnPrinterError, handler); }
void TCustomComPort::SetOnRing(const TNotifyEvent& handler) { SetLineEvent(FOnRing, handler); }
void TCustomComPort::SetOnRLSDChange(const TNotifyEvent& handler) { SetLineEvent(FOnRLSDChange, handler); }
void TCustomComPort::SetOnRx80PercFull(const TNotifyEvent& handler) { SetLineEvent(FOnRx80PercFull, handler); }
void TCustomComPort::SetOnRxChar(const TNotifyEvent& handler) { SetLineEvent(FOnRxChar, handler); }
void TCustomComPort::SetOnRxFlag(const TNotifyEvent& handler) { SetLineEvent(FOnRxFlag, handler); }
void TCustomComPort::SetOnTxEmpty(const TNotifyEvent& handler) { SetLineEvent(FOnTxEmpty, handler); }

TNotifyEvent TCustomComPort::*TCustomComPort::NotifyHandlerOf(uint32_t bit) {
  switch (bit) {
    case platform::EV_BREAK:
      return &TCustomComPort::FOnBreak;
    case platform::EV_CTS:
      return &TCustomComPort::FOnCTSChange;
    case platform::EV_DSR:
      return &TCustomComPort::FOnDSRChange;
    case platform::EV_EVENT1:
      return &TCustomComPort::FOnEvent1;
    case platform::EV_EVENT2:
      return &TCustomComPort::FOnEvent2;
    case platform::EV_PERR:
      return &TCustomComPort::FOnPrinterError;
    case platform::EV_RING:
      return &TCustomComPort::FOnRing;
    case platform::EV_RLSD:
      return &TCustomComPort::FOnRLSDChange;
    case platform::EV_RX80FULL:
      return &TCustomComPort::FOnRx80PercFull;
    case platform::EV_RXCHAR:
      return &TCustomComPort::FOnRxChar;
    case platform::EV_RXFLAG:
      return &TCustomComPort::FOnRxFlag;
    case platform::EV_TXEMPTY:
      return &TCustomComPort::FOnTxEmpty;
    default:
      return nullptr;
  }
}

uint32_t TCustomComPort::EventHandlerMask() const {
  uint32_t mask = 0;
  for (const LineEvent& event : kLineEvents) {
    const auto handler = NotifyHandlerOf(event.bit);
    const bool set = handler != nullptr ? (this->*handler).Assigned() : FOnLineError.Assigned();
    if (set) mask |= event.bit;
  }
  return mask;
}

void TCustomComPort::SetComEventMask() {
  if (!IsOpen() || Designing()) return;
  const uint32_t mask = EventHandlerMask();
  if (mask == 0) DestroyThread();
  Check(FDeviceHandle->SetCommMask(mask));
  if (mask != 0) {
    CreateThread();
    PassHeldEvents();
  }
}

void TCustomComPort::HoldEvents(uint32_t events) {
  FHeldEvents |= events;
  // Called from a dispatch: a failure goes to the exception display, as a
  // handler's would.
  try {
    PassHeldEvents();
  } catch (...) {
    ReportException(std::current_exception());
  }
}

void TCustomComPort::PassHeldEvents() {
  if (!FEventLink || FHeldEvents == 0) return;
  const uint32_t mask = EventHandlerMask();
  const uint32_t pass = FHeldEvents & mask;
  if (pass == 0) return;
  FHeldEvents &= ~pass;
  // Back to the device as events not yet waited for: the running thread's
  // wait returns them whether it has begun already or begins later.
  FDeviceHandle->PutBackEvents(pass);
}

// ---- the event thread's start and stop ----------------------------------------

void TCustomComPort::CreateThread() {
  if (FEventLink) return;
  // The thread hands its batches and errors to the user-interface thread:
  // without an application object it would end at its first batch.
  if (!TThread::PrepareSynchronize()) RaiseError(0, "Line events need an application object");
  if (!FOpenSession) FOpenSession = std::make_shared<TComOpenSession>(this);
  FEventLink = std::make_shared<TComThreadLink>(this, FOpenSession);
  TComThread* thread = nullptr;
  try {
    thread = new TComThread(this);
    thread->Start();
  } catch (const std::exception&) {
    // Not started, so it is still ours to delete.
    delete thread;
    FEventThread = nullptr;
    FEventLink.reset();
    RaiseError(0, "Can't create thread");
  }
}

void TCustomComPort::DestroyThread() {
  if (!FEventLink) return;
  {
    // The marks come first, so the thread woken below always sees them,
    // and a wait it has yet to begin ends at once, whatever mask is set by
    // then.
    std::lock_guard lock(FEventLink->Mutex);
    if (FEventLink->Thread != nullptr) {
      FEventLink->Thread->FStopped.store(true, std::memory_order_release);
      FEventLink->Thread->Terminate();
    }
  }
  if (IsOpen()) FDeviceHandle->SetCommMask(0);
  // A dispatch of this thread still queued on the user-interface thread
  // finds no port and is dropped.
  FEventLink->Port.store(nullptr, std::memory_order_release);
  FEventLink.reset();
  FEventThread = nullptr;
}

bool TCustomComPort::OnOwnEventThread() const {
  return currentComThread != nullptr && currentComThread->ComPort() == this;
}

TComThread::TComThread(TCustomComPort* comPort)
    : TThread(true),
      FComPort(comPort),
      FLink(comPort->FEventLink),
      FDevice(comPort->FDeviceHandle),
      FSynchronizeEvents(comPort->SynchronizeEvents()) {
  {
    std::lock_guard lock(FLink->Mutex);
    FLink->Thread = this;
  }
  comPort->FEventThread = this;
  SetFreeOnTerminate(true);
  // Applied when the thread starts; a priority the system refuses then is
  // not an error (the thread keeps the one it inherited).
  SetPriority(comPort->ThreadPriority());
}

TComThread::~TComThread() {
  std::lock_guard lock(FLink->Mutex);
  FLink->Thread = nullptr;
}

void TComThread::Execute() {
  currentComThread = this;
  while (!Terminated()) TCustomComPort::ThreadProc(*this);
  currentComThread = nullptr;
}

// ---- one wait and its dispatch -------------------------------------------------

void TCustomComPort::ThreadProc(TComThread& thread) {
  thread.FWaitMask = 0;
  thread.FWaitOverlapped = platform::Overlapped{};
  thread.FWaitOverlapped.hEvent = &thread.FWaitEvent;
  thread.FWaitOverlapped.Abandon = &thread.FStopped;
  // A batch is dispatched also when the thread was stopped meanwhile: the
  // dispatch hands it over or drops it.
  if (thread.FDevice->WaitCommEvent(thread.FWaitMask, thread.FWaitOverlapped)) {
    thread.Dispatch();
    return;
  }
  int code = platform::GetLastError();
  if (code == platform::kErrorIoPending) {
    // The wait was queued: sleep until it ends, then learn how. Its record
    // belongs to this thread, so the thread may not go before the wait has
    // ended, even when it was stopped meanwhile: stopping clears the event
    // mask (and closing the device ends every wait), which ends it.
    thread.FWaitEvent.Wait();
    uint32_t unused = 0;
    if (thread.FDevice->GetOverlappedResult(thread.FWaitOverlapped, unused, false)) {
      thread.Dispatch();
      return;
    }
    code = platform::GetLastError();
    if (code == 0 || code == platform::kErrorIoPending) return;
  }
  if (thread.Terminated()) return;
  platform::SetLastError(0);
  // Reported on the user-interface thread, which also drops this thread
  // there; the error returns here and ends the thread. A port that stopped
  // the thread meanwhile, or went away, hears nothing.
  TThread::Synchronize([&thread, code] {
    if (TCustomComPort* port = thread.FLink->Port.load(std::memory_order_acquire)) port->ThreadWaitFailed(code);
  });
  thread.Terminate();
}

void TCustomComPort::ThreadWaitFailed(int code) {
  FEventLink->Port.store(nullptr, std::memory_order_release);
  FEventLink.reset();
  FEventThread = nullptr;
  ThreadErrorCode = code;
  try {
    RaiseThreadError();
  } catch (...) {
    // A device that went away leaves nothing to keep open.
    if (platform::IsDeviceGone(code)) Close();
    throw;
  }
}

void TComThread::Dispatch() {
  // A batch whose mask is empty (the mask changed, or the device closed)
  // has nothing to hand over.
  if (FWaitMask == 0) return;
  // The batch before has run: the device held this wait's events until
  // then. A device that cannot hold them makes this wait for it.
  WaitForQueued();
  FBatchMask = FWaitMask;
  if (!FSynchronizeEvents) {
    DoEventOnPort();
    return;
  }
  // One hand-off: the batch is queued and this thread goes on to its next
  // wait, which also covers the wait for this batch's end, so neither
  // costs a wake-up of its own.
  FDevice->HoldEvents();
  try {
    Queue(FQueuedBatch);
  } catch (...) {
    FDevice->ReleaseEvents();
    throw;
  }
}

void TComThread::RunQueuedBatch() {
  struct Release {
    platform::SerialDevice& device;
    ~Release() { device.ReleaseEvents(); }
  } release{*FDevice};
  // Events that came while the batch ran (a reply that came quickly) run
  // here at once, as the next batch would: no hand-off and no wake-up of
  // this thread. A few at most, so a stream of input never keeps the
  // user-interface thread from its other work.
  constexpr int kBatchesAtOnce = 4;
  for (int batch = 1;; ++batch) {
    DoEventOnPort();
    if (batch == kBatchesAtOnce || FLink->Port.load(std::memory_order_acquire) == nullptr) return;
    FBatchMask = FDevice->TakeHeldEvents();
    if (FBatchMask == 0) return;
  }
}

void TComThread::DoEventOnPort() {
  TCustomComPort* port = FLink->Port.load(std::memory_order_acquire);
  if (port == nullptr) {  // stopped or dropped meanwhile
    HandOver();
    return;
  }
  port->FEventMask = FBatchMask;
  // On this thread the owner may close the port and free it as soon as a
  // handler's close has returned: the batch then ends untouched.
  port->DispatchEvents(FSynchronizeEvents ? nullptr : FLink.get());
}

void TComThread::HandOver() {
  const std::shared_ptr<TComOpenSession>& session = FLink->Session;
  const uint32_t events = FBatchMask;
  auto hold = [&session, events] {
    if (TCustomComPort* port = session->Port.load(std::memory_order_acquire)) port->HoldEvents(events);
  };
  if (FSynchronizeEvents)
    hold();  // this runs on the user-interface thread already
  else if (session->Port.load(std::memory_order_acquire) != nullptr)
    Synchronize(hold);
}

void TCustomComPort::ThreadDoEvent() { DispatchEvents(nullptr); }

void TCustomComPort::DispatchEvents(const TComThreadLink* link) {
  const uint32_t mask = FEventMask;
  // On the user-interface thread a handler may destroy the port (its owner
  // deletes it): the guard tells, without touching the freed port. Off it,
  // the link tells (the port clears it when it closes or goes).
  const QPointer<TCustomComPort> alive(link == nullptr ? this : nullptr);
  try {
    for (const LineEvent& event : kLineEvents) {
      if ((mask & event.bit) == 0) continue;
      if (Log()) WriteLog(QString::fromLatin1(event.logText));
      if (const auto handler = NotifyHandlerOf(event.bit)) {
        // A copy: the handler may replace itself.
        const TNotifyEvent notify = this->*handler;
        notify(this);
      } else if (FOnLineError) {
        CheckLineErrors();
      }
      // Only the guard or the link is read here: the port may be gone.
      if (link != nullptr ? link->Port.load(std::memory_order_acquire) != this : alive.isNull()) return;
    }
  } catch (...) {
    ReportException(std::current_exception());
  }
}

// ---- line errors ----------------------------------------------------------------

TLineErrors TCustomComPort::GetLineErrors(uint32_t errorWord) {
  TLineErrors errors;
  for (size_t i = 0; i < std::size(kLineErrorBits); ++i)
    if (errorWord & kLineErrorBits[i]) errors |= static_cast<TLineError>(1u << i);
  return errors;
}

void TCustomComPort::CheckLineErrors() {
  CheckActive();
  uint32_t errors = 0;
  Check(FDeviceHandle->ClearCommError(errors, nullptr));
  if (errors != 0 && FOnLineError) {
    const TLineErrorEvent handler = FOnLineError;
    handler(this, GetLineErrors(errors));
  }
}

void TCustomComPort::ClearLineErrors() {
  CheckActive();
  uint32_t errors = 0;
  Check(FDeviceHandle->ClearCommError(errors, nullptr));
}
