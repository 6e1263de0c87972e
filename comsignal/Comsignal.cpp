#include "comsignal/Comsignal.h"

#include <QPalette>
#include <QThread>
#include <exception>
#include <mutex>
#include <utility>

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

// A notification event of the port: how to read it and how to set it (the
// setter recomputes the port's event mask).
struct NotifySlot {
  TNotifyEvent (TCustomComPort::*get)() const = nullptr;
  void (TCustomComPort::*set)(const TNotifyEvent&) = nullptr;
};

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

// One attachment. The handlers installed on the port share it; it keeps
// the handlers saved at attaching, which never change, and the indicator
// until the attachment ends. A handler of an attachment that ended only
// calls its saved handler.
class TComSignalLink : public std::enable_shared_from_this<TComSignalLink> {
 public:
  TComSignalLink(TComSignal* indicator, TCustomComPort* port)
      : Port(port), Signal(indicator->Signal()), Home(indicator->thread()), indicator_(indicator) {}

  // The attachment ends: the indicator is no longer called.
  void Disconnect() {
    std::lock_guard lock(mutex_);
    indicator_ = nullptr;
  }

  // The indicator's own work for an event, then the saved handler with
  // 'args'. An error of the indicator's work does not keep the saved
  // handler from running; it is raised after it.
  template <class E, class... A>
  void Chain(void (TComSignal::*work)(), const E& saved, A&&... args) {
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
  const TSignal Signal;  // the signal at attaching: what detaching puts back
  QThread* const Home;   // the indicator's thread

  // Saved at attaching (before any handler of this link is installed).
  TOpenCloseEvent SavedAfterOpen, SavedAfterClose;
  TReadWriteEvent SavedBeforeWrite, SavedAfterWrite;
  TNotifyEvent SavedNotifyEvent, SavedModemEvent;
  TLineErrorEvent SavedLineErrorEvent;

  // The codes of the handlers installed (each unique to this link), to
  // recognise them in the port's slots. Codes only: the handlers hold the
  // link, the link does not hold them.
  TMethodCode OwnAfterOpen, OwnAfterClose, OwnBeforeWrite, OwnAfterWrite, OwnEvent;

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

  std::mutex mutex_;
  TComSignal* indicator_;  // null once the attachment ended
};

namespace {

template <class E>
bool IsOwn(const E& handler, const TMethodCode& code) {
  return handler.Assigned() && handler.Code() == code;
}

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
  if (FLink) FLink->Disconnect();
  FLink.reset();
  QObject::disconnect(FComPortGone);
  FComPort = nullptr;
  FWriting = false;
  SetSignalValue(false);
}

// ---- attaching and detaching -----------------------------------------------

void TComSignal::RetrieveEvents() {
  if (Attached()) RestoreEvents();
  if (Loading() || Designing() || FComPort == nullptr) return;
  TCustomComPort* port = FComPort;
  const auto link = std::make_shared<TComSignalLink>(this, port);
  const Kind kind = KindOf(link->Signal);
  const NotifySlot slot = SlotOf(link->Signal);

  // Everything is saved before the first handler of the link is installed.
  link->SavedAfterOpen = port->AfterOpen();
  link->SavedAfterClose = port->AfterClose();
  if (kind == Kind::Pulse) link->SavedNotifyEvent = (port->*slot.get)();
  if (kind == Kind::Level) link->SavedModemEvent = (port->*slot.get)();
  if (kind == Kind::LineError) link->SavedLineErrorEvent = port->OnLineError();
  if (kind == Kind::Transmit) {
    link->SavedBeforeWrite = port->BeforeWrite();
    link->SavedAfterWrite = port->AfterWrite();
  }

  // The handlers hold the link (never the indicator itself), so a copy
  // that outlives the attachment stays safe to call.
  const auto afterOpen = TOpenCloseEvent::Bind(
      [link](TCustomComPort* sender) { link->Chain(&TComSignal::UpdateSignalValue, link->SavedAfterOpen, sender); },
      this);
  const auto afterClose = TOpenCloseEvent::Bind(
      [link](TCustomComPort* sender) { link->Chain(&TComSignal::UpdateSignalValue, link->SavedAfterClose, sender); },
      this);
  link->OwnAfterOpen = afterOpen.Code();
  link->OwnAfterClose = afterClose.Code();
  FLink = link;
  FWriting = false;

  // Written straight into the slots.
  port->SetAfterOpen(afterOpen);
  port->SetAfterClose(afterClose);

  switch (kind) {
    case Kind::Pulse: {
      const auto handler = TNotifyEvent::Bind(
          [link](TObject*) { link->Chain(&TComSignal::PulseWork, link->SavedNotifyEvent, link->Port); }, this);
      link->OwnEvent = handler.Code();
      (port->*slot.set)(handler);  // the setter makes an open port watch the event
      break;
    }
    case Kind::Level: {
      const auto handler = TNotifyEvent::Bind(
          [link](TObject*) { link->Chain(&TComSignal::UpdateSignalValue, link->SavedModemEvent, link->Port); }, this);
      link->OwnEvent = handler.Code();
      (port->*slot.set)(handler);
      break;
    }
    case Kind::LineError: {
      const auto handler = TLineErrorEvent::Bind(
          [link](TObject*, TLineErrors errors) {
            link->Chain(&TComSignal::PulseWork, link->SavedLineErrorEvent, link->Port, errors);
          },
          this);
      link->OwnEvent = handler.Code();
      port->SetOnLineError(handler);
      break;
    }
    case Kind::Transmit: {
      const auto beforeWrite = TReadWriteEvent::Bind(
          [link](TObject* sender, const void* buffer, int length, bool wait) {
            link->Chain(&TComSignal::BeforeWriteWork, link->SavedBeforeWrite, sender, buffer, length, wait);
          },
          this);
      const auto afterWrite = TReadWriteEvent::Bind(
          [link](TObject* sender, const void* buffer, int length, bool wait) {
            link->Chain(&TComSignal::AfterWriteWork, link->SavedAfterWrite, sender, buffer, length, wait);
          },
          this);
      link->OwnBeforeWrite = beforeWrite.Code();
      link->OwnAfterWrite = afterWrite.Code();
      port->SetBeforeWrite(beforeWrite);
      port->SetAfterWrite(afterWrite);
      break;
    }
    case Kind::None:
      break;
  }
}

void TComSignal::RestoreEvents() {
  const std::shared_ptr<TComSignalLink> link = std::exchange(FLink, nullptr);
  if (!link) return;
  // From now on the handlers of this attachment only pass calls on, also
  // where another indicator or the owner keeps a copy of them.
  link->Disconnect();
  FWriting = false;
  TCustomComPort* port = link->Port;
  // A port going with its owner drops its handlers with itself.
  if (port->Destroying()) return;

  FirstError error;
  if (IsOwn(port->AfterOpen(), link->OwnAfterOpen)) port->SetAfterOpen(link->SavedAfterOpen);
  if (IsOwn(port->AfterClose(), link->OwnAfterClose)) port->SetAfterClose(link->SavedAfterClose);
  const NotifySlot slot = SlotOf(link->Signal);
  switch (KindOf(link->Signal)) {
    case Kind::Pulse:
    case Kind::Level: {
      const TNotifyEvent& saved =
          KindOf(link->Signal) == Kind::Pulse ? link->SavedNotifyEvent : link->SavedModemEvent;
      // Through the setter, so the port's event mask follows.
      if (IsOwn((port->*slot.get)(), link->OwnEvent)) error.Try([&] { (port->*slot.set)(saved); });
      break;
    }
    case Kind::LineError:
      if (IsOwn(port->OnLineError(), link->OwnEvent))
        error.Try([&] { port->SetOnLineError(link->SavedLineErrorEvent); });
      break;
    case Kind::Transmit:
      if (IsOwn(port->BeforeWrite(), link->OwnBeforeWrite)) port->SetBeforeWrite(link->SavedBeforeWrite);
      if (IsOwn(port->AfterWrite(), link->OwnAfterWrite)) port->SetAfterWrite(link->SavedAfterWrite);
      break;
    case Kind::None:
      break;
  }
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

void TComSignal::OnTimer(TObject*) {
  // A write still in progress keeps the transmit signal lit; the timer
  // looks again one period later.
  if (FSignal == siTxChar && FWriting) return;
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
