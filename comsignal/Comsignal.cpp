#include "comsignal/Comsignal.h"

#include <QPalette>
#include <QThread>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "framework/Guard.h"

namespace {

enum class Kind { None, Pulse, LineError, Transmit, Level };

Kind KindOf(TSignal signal) {
  switch (signal) {
    case siNone:
      return Kind::None;
    case siTxChar:
      return Kind::Transmit;
    case siLineError:
      return Kind::LineError;
    case siCTS:
    case siDSR:
    case siRing:
    case siRLSD:
      return Kind::Level;
    default:
      return Kind::Pulse;
  }
}

// A handler slot of the port: how to read it and how to set it (the
// setters of line events recompute the port's event mask).
template <class E>
struct PortSlot {
  E (TCustomComPort::*get)() const = nullptr;
  void (TCustomComPort::*set)(const E&) = nullptr;
};
using NotifySlot = PortSlot<TNotifyEvent>;

// The port event that a pulse or level signal takes over.
NotifySlot SlotOf(TSignal signal) {
  using P = TCustomComPort;
  switch (signal) {
    case siBreak:
      return {&P::OnBreak, &P::SetOnBreak};
    case siRxChar:
      return {&P::OnRxChar, &P::SetOnRxChar};
    case siCTS:
      return {&P::OnCTSChange, &P::SetOnCTSChange};
    case siDSR:
      return {&P::OnDSRChange, &P::SetOnDSRChange};
    case siEvent1:
      return {&P::OnEvent1, &P::SetOnEvent1};
    case siEvent2:
      return {&P::OnEvent2, &P::SetOnEvent2};
    case siPrinterError:
      return {&P::OnPrinterError, &P::SetOnPrinterError};
    case siRing:
      return {&P::OnRing, &P::SetOnRing};
    case siRLSD:
      return {&P::OnRLSDChange, &P::SetOnRLSDChange};
    case siRx80PercFull:
      return {&P::OnRx80PercFull, &P::SetOnRx80PercFull};
    case siRxFlag:
      return {&P::OnRxFlag, &P::SetOnRxFlag};
    case siTxEmpty:
      return {&P::OnTxEmpty, &P::SetOnTxEmpty};
    default:
      return {};
  }
}

// The modem line a level signal follows.
TModemStatusValue LineOf(TSignal signal) {
  switch (signal) {
    case siCTS:
      return msCTS;
    case siDSR:
      return msDSR;
    case siRing:
      return msRing;
    default:
      return msRLSD;
  }
}

// Runs several steps; the first error is kept and raised at the end, so
// one failing step does not stop the others.
class FirstError {
 public:
  template <class F>
  void Try(F&& step) {
    try {
      step();
    } catch (...) {
      if (!error_) error_ = std::current_exception();
    }
  }
  void Raise() const {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::exception_ptr error_;
};

}  // namespace

QColor ColorToQColor(TColor color) {
  const auto value = static_cast<quint32>(color);
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// ---- the link between an indicator and the handlers it installed -----------

// One slot of the port an attachment took over: the slot, the code of the
// handler installed there (null while not taken over) and the handler that
// one passes calls on to. That is the handler found at attaching, until the
// attachment whose handler it is leaves and hands its own saved one down.
template <class E>
struct Hook {
  PortSlot<E> slot;
  TMethodCode own;
  E saved;  // under the link's lock: calls on any thread read it
};

// One attachment. The handlers installed on the port share it; it keeps
// the saved handlers, and the indicator until the attachment ends. A
// handler of an attachment that ended only calls its saved handler.
class TComSignalLink : public std::enable_shared_from_this<TComSignalLink> {
 public:
  TComSignalLink(TComSignal* indicator, TCustomComPort* port)
      : Port(port), Home(indicator->thread()), indicator_(indicator) {}

  // The attachment ends: the indicator is no longer called.
  void Disconnect() {
    std::lock_guard lock(mutex_);
    indicator_ = nullptr;
  }

  // Calls 'f' with each of the hooks (as members of the link).
  template <class F>
  static void ForEachHook(F&& f) {
    f(&TComSignalLink::AfterOpen);
    f(&TComSignalLink::AfterClose);
    f(&TComSignalLink::BeforeWrite);
    f(&TComSignalLink::AfterWrite);
    f(&TComSignalLink::Event);
    f(&TComSignalLink::LineError);
  }

  template <class E>
  E Saved(const Hook<E>& hook) const {
    std::lock_guard lock(mutex_);
    return hook.saved;
  }

  // Saves the port's handler of 'slot' in 'hook' and installs 'handler'
  // there (line events through the setter, so the event mask follows).
  template <class E>
  void Take(Hook<E>& hook, PortSlot<E> slot, const E& handler) {
    {
      std::lock_guard lock(mutex_);
      hook.slot = slot;
      hook.own = handler.Code();
      hook.saved = (Port->*slot.get)();
    }
    (Port->*slot.set)(handler);
  }

  // Where this link saved the handler with 'code', 'handler' takes its
  // place.
  template <class E>
  void Replace(Hook<E> TComSignalLink::*member, const TMethodCode& code, const E& handler) {
    std::lock_guard lock(mutex_);
    Hook<E>& hook = this->*member;
    if (!hook.own.IsNull() && hook.saved.Assigned() && hook.saved.Code() == code) hook.saved = handler;
  }

  // The indicator's own work for an event, then the saved handler of
  // 'hook' with 'args'. An error of the indicator's work does not keep the
  // saved handler from running; it is raised after it.
  template <class E, class... A>
  void Chain(void (TComSignal::*work)(), const Hook<E>& hook, A&&... args) {
    const E saved = Saved(hook);
    try {
      Work(work);
    } catch (...) {
      try {
        saved(args...);
      } catch (...) {
        ReportException(std::current_exception());
      }
      throw;
    }
    saved(std::forward<A>(args)...);
  }

  TCustomComPort* const Port;
  QThread* const Home;  // the indicator's thread

  Hook<TOpenCloseEvent> AfterOpen, AfterClose;
  Hook<TReadWriteEvent> BeforeWrite, AfterWrite;
  Hook<TNotifyEvent> Event;  // the pulse or modem-line event
  Hook<TLineErrorEvent> LineError;

 private:
  // Runs 'work' on the indicator while the attachment lasts: at once on
  // the indicator's thread, posted there from any other thread.
  void Work(void (TComSignal::*work)()) {
    if (QThread::currentThread() == Home) {
      // Only this thread ends the attachment, so no lock is held while
      // the work runs (it calls user handlers, which may detach).
      TComSignal* indicator = nullptr;
      {
        std::lock_guard lock(mutex_);
        indicator = indicator_;
      }
      if (indicator != nullptr) (indicator->*work)();
      return;
    }
    // Under the lock the indicator cannot finish detaching, so it is alive
    // while the call is posted; a posted call dies with its receiver.
    std::lock_guard lock(mutex_);
    if (indicator_ == nullptr) return;
    QMetaObject::invokeMethod(
        indicator_,
        [self = shared_from_this(), work] {
          TComSignal* indicator = nullptr;
          {
            std::lock_guard lock(self->mutex_);
            indicator = self->indicator_;
          }
          if (indicator != nullptr) Guarded([&] { (indicator->*work)(); });
        },
        Qt::QueuedConnection);
  }

  mutable std::mutex mutex_;
  TComSignal* indicator_;  // null once the attachment ended
};

namespace {

template <class E>
bool IsOwn(const E& handler, const TMethodCode& code) {
  return handler.Assigned() && handler.Code() == code;
}

// The attachments in force, whatever their port. A slot of a port holds a
// chain: the handler of the last attachment, which calls the one it saved,
// and so on down to the owner's. An attachment that leaves takes its
// handlers out of every chain: another attachment that saved one of them
// takes over the handler it had saved, and where its handler is still the
// port's, the port gets that handler back. So a chain holds only handlers
// of attachments in force, and once all have left each slot holds what
// the owner last put there. Joining and leaving happen under one lock
// (recursive: a port's setter may run user code that attaches).
class Chains {
 public:
  static Chains& Instance() {
    // Never destroyed: an indicator may outlive static objects.
    static Chains* const chains = new Chains;
    return *chains;
  }

  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  void Join(TComSignalLink* link) {
    const auto lock = Lock();
    links_.push_back(link);
  }

  // 'link' leaves without touching its port, which is being destroyed
  // with every handler in it.
  void Forget(TComSignalLink& link) {
    const auto lock = Lock();
    std::erase(links_, &link);
  }

  // 'link' leaves every chain of its port.
  void Leave(TComSignalLink& link, FirstError& error) {
    const auto lock = Lock();
    Forget(link);
    TCustomComPort* port = link.Port;
    if (port->Destroying()) return;
    TComSignalLink::ForEachHook([&](auto member) {
      const auto& hook = link.*member;
      if (hook.own.IsNull()) return;
      const auto saved = link.Saved(hook);
      for (TComSignalLink* other : links_)
        if (other->Port == port) other->Replace(member, hook.own, saved);
      if (IsOwn((port->*hook.slot.get)(), hook.own)) error.Try([&] { (port->*hook.slot.set)(saved); });
    });
  }

 private:
  std::recursive_mutex mutex_;
  std::vector<TComSignalLink*> links_;
};

}  // namespace

// ---- the component ----------------------------------------------------------

TComSignal::TComSignal(QObject* owner) : TComponent(owner), FTimer(std::make_unique<TTimer>()) {
  FTimer->SetInterval(FDelay);
  FTimer->SetOnTimer(TNotifyEvent(this, &TComSignal::OnTimer));
}

TComSignal::~TComSignal() {
  FTimer.reset();
  // Nobody could receive an error now; the attachment has ended anyway.
  try {
    RestoreEvents();
  } catch (...) {
  }
}

QString TComSignal::About() const { return QStringLiteral("TComSignal signal indicator 1.0"); }

void TComSignal::SetColorOff(TColor value) {
  if (value == FColorOff) return;
  FColorOff = value;
  UpdateColor();
}

void TComSignal::SetControl(QWidget* value) {
  if (value == FControl) return;
  FControl = value;
  UpdateColor();
}

void TComSignal::SetDelay(qint32 value) {
  if (value == FDelay) return;
  FDelay = value;
  FTimer->SetInterval(value);
}

void TComSignal::SetComPort(TComPort* value) {
  if (value == FComPort) return;
  FTimer->SetEnabled(false);
  // A port that refuses to take its handlers back does not stop the change.
  FirstError error;
  error.Try([this] { RestoreEvents(); });
  QObject::disconnect(FComPortGone);
  FComPort = value;
  // A port of another owner sends no notification when it goes.
  if (value != nullptr)
    FComPortGone = connect(value, &QObject::destroyed, this, [this] { ForgetPort(); }, Qt::DirectConnection);
  RetrieveEvents();
  UpdateSignalValue();
  error.Raise();
}

void TComSignal::SetSignal(TSignal value) {
  if (value == FSignal) return;
  const bool attached = Attached();
  FirstError error;
  if (attached) {
    FTimer->SetEnabled(false);
    error.Try([this] { RestoreEvents(); });
  }
  FSignal = value;
  FWriting = false;
  if (attached) {
    RetrieveEvents();
    UpdateSignalValue();
  }
  error.Raise();
}

void TComSignal::Loaded() {
  TComponent::Loaded();
  RetrieveEvents();
  UpdateSignalValue();
  UpdateColor();
}

void TComSignal::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FComPort)
    ForgetPort();
  else if (FControl != nullptr && static_cast<QObject*>(component) == FControl.data())
    SetControl(nullptr);
}

void TComSignal::ForgetPort() {
  if (FComPort == nullptr) return;
  FTimer->SetEnabled(false);
  // The port is being destroyed: it is not called any more, and its
  // handlers (ours among them) go with it.
  if (const std::shared_ptr<TComSignalLink> link = std::exchange(FLink, nullptr)) {
    link->Disconnect();
    Chains::Instance().Forget(*link);
  }
  QObject::disconnect(FComPortGone);
  FComPort = nullptr;
  FWriting = false;
  SetSignalValue(false);
}

// ---- attaching and detaching -----------------------------------------------

void TComSignal::RetrieveEvents() {
  if (Attached()) RestoreEvents();
  if (Loading() || Designing() || FComPort == nullptr) return;
  const auto link = std::make_shared<TComSignalLink>(this, FComPort);
  // The handlers hold the link (never the indicator itself), so a copy
  // that outlives the attachment stays safe to call.
  const auto openClose = [this, &link](void (TComSignal::*work)(), Hook<TOpenCloseEvent> TComSignalLink::*hook) {
    return TOpenCloseEvent::Bind(
        [link, work, hook](TCustomComPort* sender) { link->Chain(work, (*link).*hook, sender); }, this);
  };
  const auto notify = [this, &link](void (TComSignal::*work)()) {
    return TNotifyEvent::Bind([link, work](TObject*) { link->Chain(work, link->Event, link->Port); }, this);
  };
  const auto readWrite = [this, &link](void (TComSignal::*work)(), Hook<TReadWriteEvent> TComSignalLink::*hook) {
    return TReadWriteEvent::Bind(
        [link, work, hook](TObject* sender, const void* buffer, int length, bool wait) {
          link->Chain(work, (*link).*hook, sender, buffer, length, wait);
        },
        this);
  };

  FLink = link;
  FWriting = false;
  using P = TCustomComPort;
  // The link joins and takes its slots in one step: a link that leaves
  // meanwhile finds it among those that may have saved its handlers.
  Chains& chains = Chains::Instance();
  const auto lock = chains.Lock();
  chains.Join(link.get());
  link->Take(link->AfterOpen, {&P::AfterOpen, &P::SetAfterOpen},
             openClose(&TComSignal::UpdateSignalValue, &TComSignalLink::AfterOpen));
  link->Take(link->AfterClose, {&P::AfterClose, &P::SetAfterClose},
             openClose(&TComSignal::AfterCloseWork, &TComSignalLink::AfterClose));
  switch (KindOf(FSignal)) {
    case Kind::Pulse:
      link->Take(link->Event, SlotOf(FSignal), notify(&TComSignal::PulseWork));
      break;
    case Kind::Level:
      link->Take(link->Event, SlotOf(FSignal), notify(&TComSignal::UpdateSignalValue));
      break;
    case Kind::LineError:
      link->Take(link->LineError, {&P::OnLineError, &P::SetOnLineError},
                 TLineErrorEvent::Bind(
                     [link](TObject*, TLineErrors errors) {
                       link->Chain(&TComSignal::PulseWork, link->LineError, link->Port, errors);
                     },
                     this));
      break;
    case Kind::Transmit:
      link->Take(link->BeforeWrite, {&P::BeforeWrite, &P::SetBeforeWrite},
                 readWrite(&TComSignal::BeforeWriteWork, &TComSignalLink::BeforeWrite));
      link->Take(link->AfterWrite, {&P::AfterWrite, &P::SetAfterWrite},
                 readWrite(&TComSignal::AfterWriteWork, &TComSignalLink::AfterWrite));
      break;
    case Kind::None:
      break;
  }
}

void TComSignal::RestoreEvents() {
  const std::shared_ptr<TComSignalLink> link = std::exchange(FLink, nullptr);
  if (!link) return;
  // From now on the handlers of this attachment only pass calls on, also
  // where somebody else keeps a copy of them.
  link->Disconnect();
  FWriting = false;
  FirstError error;
  Chains::Instance().Leave(*link, error);
  error.Raise();
}

// ---- the indicator's own work -------------------------------------------------

void TComSignal::PulseWork() {
  const QPointer<TComSignal> alive(this);
  SetSignalValue(true);
  // OnSignal may have destroyed or detached the indicator.
  if (alive && Attached()) StartTimer();
}

void TComSignal::BeforeWriteWork() {
  const QPointer<TComSignal> alive(this);
  SetSignalValue(true);
  if (!alive || !Attached()) return;
  FWriting = true;
  StartTimer();
}

void TComSignal::AfterWriteWork() { FWriting = false; }

void TComSignal::AfterCloseWork() {
  // No write is under way on a closed port, and nothing is lit for the
  // timer to put out.
  FWriting = false;
  FTimer->SetEnabled(false);
  UpdateSignalValue();
}

void TComSignal::OnTimer(TObject*) {
  // A write still under way keeps the transmit signal lit; the timer looks
  // again one period later. A write that failed never reached AfterWrite:
  // the port tells whether one is under way.
  if (FSignal == siTxChar && FWriting && FComPort != nullptr && FComPort->Writing()) return;
  FWriting = false;
  FTimer->SetEnabled(false);
  SetSignalValue(false);
}

void TComSignal::StartTimer() {
  FTimer->SetEnabled(false);
  FTimer->SetEnabled(true);
}

void TComSignal::SetSignalValue(bool value) {
  if (value == FSignalValue) return;
  FSignalValue = value;
  UpdateColor();
  if (FOnSignal) {
    // A copy: the handler may replace itself.
    const TNotifyEvent handler = FOnSignal;
    handler(this);
  }
}

void TComSignal::UpdateSignalValue() {
  bool value = false;
  if (FComPort != nullptr && FComPort->Active() && KindOf(FSignal) == Kind::Level)
    value = FComPort->GetModemStatus().testFlag(LineOf(FSignal));
  SetSignalValue(value);
}

void TComSignal::UpdateColor() {
  QWidget* control = FControl;
  if (control == nullptr) return;
  const QColor color = ColorToQColor(FSignalValue ? FColorOn : FColorOff);
  // The roles a plain widget, a frame, a label and a button fill their
  // background with.
  QPalette palette = control->palette();
  palette.setColor(QPalette::Window, color);
  palette.setColor(QPalette::Button, color);
  control->setPalette(palette);
  control->setAutoFillBackground(true);
}
