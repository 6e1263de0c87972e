// TComSignal: shows one line signal of a serial port component as the
// colour of a widget: ColorOn while the signal is on, ColorOff while it is
// off. It attaches to the port by taking over some of the port's event
// handlers and calling the handlers that were there before, so the port's
// owner keeps all of its own event handling.
//
// Signals are of three kinds: pulses (an event of the port; lit on each
// event, dark Delay ms after the last), the transmit signal (lit while the
// port writes and up to Delay ms after, also when the write fails) and
// levels (the four modem input lines, read from the port's modem status).
// A close puts any signal out.
//
// Chaining. Each attachment is one shared link object: the handlers the
// indicator installs on the port hold the link, and the link holds the
// handlers the port had before (the saved handlers). Detaching or
// destroying the indicator cuts the link from the indicator and takes its
// handlers out of the port's chains: where the port still holds one, the
// saved handler goes back; where another indicator attached later saved
// one, that indicator takes over the handler it had saved. So the chains
// hold only indicators that are attached, and once all have detached the
// port's handlers are the owner's again. Wherever a copy of an installed
// handler survives all the same (kept by the owner), calling it only
// passes the call on to the handler it had saved: the port never calls
// into an indicator that has gone or no longer expects the event, and no
// owner's handler is lost.
//
// Threads. The indicator's own work (its value, timer and widget) is done
// on the thread it lives on, the user-interface thread. A handler called
// on another thread (line events with SynchronizeEvents off, writes from a
// worker thread) posts that work there and calls the saved handler on the
// calling thread at once.
#pragma once

#include <QColor>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "comport/Comport.h"
#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/Timer.h"

namespace ComSignalTypes {
Q_NAMESPACE

// The line signal shown, in this order (ordinals from 0).
enum TSignal {
  siNone,
  siBreak,
  siRxChar,
  siTxChar,
  siCTS,
  siDSR,
  siEvent1,
  siEvent2,
  siLineError,
  siPrinterError,
  siRing,
  siRLSD,
  siRx80PercFull,
  siRxFlag,
  siTxEmpty
};
Q_ENUM_NS(TSignal)

}  // namespace ComSignalTypes

using ComSignalTypes::TSignal;
using enum ComSignalTypes::TSignal;

// A colour as a 32-bit value 0x00BBGGRR (blue, green, red bytes); the top
// byte is not used.
using TColor = qint32;

// The Qt colour of 'color'.
QColor ColorToQColor(TColor color);

class TComSignalLink;

class TComSignal : public TComponent {
  Q_OBJECT
  Q_PROPERTY(QString About READ About WRITE SetAbout STORED false)
  Q_PROPERTY(qint32 ColorOff READ ColorOff WRITE SetColorOff)
  Q_PROPERTY(qint32 ColorOn READ ColorOn WRITE SetColorOn)
  Q_PROPERTY(TComPort* ComPort READ ComPort WRITE SetComPort)
  Q_PROPERTY(QWidget* Control READ Control WRITE SetControl)
  // Both are always stored (no declared default).
  Q_PROPERTY(qint32 Delay READ Delay WRITE SetDelay)
  Q_PROPERTY(ComSignalTypes::TSignal Signal READ Signal WRITE SetSignal)
  Q_PROPERTY(bool SignalValue READ SignalValue STORED false)
  Q_PROPERTY(TNotifyEvent OnSignal READ OnSignal WRITE SetOnSignal)
  Q_CLASSINFO("Default:ColorOff", "32768")
  Q_CLASSINFO("Default:ColorOn", "65280")

 public:
  static constexpr TColor kDefaultColorOff = 32768;  // dark green
  static constexpr TColor kDefaultColorOn = 65280;   // bright green

  // The timer starts running; its first expiry, with nothing lit, only
  // stops it again.
  explicit TComSignal(QObject* owner = nullptr);
  // Detaches from the port; never raises.
  ~TComSignal() override;

  QString About() const;
  void SetAbout(const QString&) {}

  TColor ColorOff() const { return FColorOff; }
  // Recolours the control at once when the colour changed.
  void SetColorOff(TColor value);
  TColor ColorOn() const { return FColorOn; }
  // Only stored: the control shows it from its next recolouring on.
  void SetColorOn(TColor value) { FColorOn = value; }

  TComPort* ComPort() const { return FComPort; }
  // Detaches from the current port and attaches to the new one.
  void SetComPort(TComPort* value);

  // Any widget; its background takes the colour. A widget that is deleted
  // is forgotten.
  QWidget* Control() const { return FControl; }
  void SetControl(QWidget* value);

  // Milliseconds a pulse stays lit after its last event; 0: for ever (the
  // timer never expires).
  qint32 Delay() const { return FDelay; }
  void SetDelay(qint32 value);

  TSignal Signal() const { return FSignal; }
  // While attached: detaches with the old signal, stores the new one and
  // attaches with it, then takes the new signal's current value.
  void SetSignal(TSignal value);

  bool SignalValue() const { return FSignalValue; }

  // Fired with the indicator as sender on every change of SignalValue.
  TNotifyEvent OnSignal() const { return FOnSignal; }
  void SetOnSignal(const TNotifyEvent& handler) { FOnSignal = handler; }

  void Loaded() override;
  // A port or control that goes away is forgotten.
  void Notification(TComponent* component, TOperation operation) override;

  // True while the indicator's handlers are installed on a port.
  bool Attached() const { return FLink != nullptr; }

 protected:
  // Attaches to ComPort (nothing while loading, at design time or without
  // a port). An indicator that is attached already detaches first.
  void RetrieveEvents();
  // Detaches from ComPort: each handler of the port that is still the
  // indicator's own goes back to the one it saved, and an indicator that
  // saved the indicator's handler takes over that one; a handler that
  // somebody else installed meanwhile stays.
  void RestoreEvents();
  // A full Delay period begins now.
  void StartTimer();
  // A changed value is stored, the control recoloured and OnSignal fired.
  void SetSignalValue(bool value);
  // The value the signal has now: false unless the port is open; a level
  // signal's modem line (one modem status read).
  void UpdateSignalValue();
  // The control's background: ColorOn while the signal is on, ColorOff
  // otherwise; nothing without a control.
  void UpdateColor();
  // The timer behind Delay.
  TTimer* Timer() const { return FTimer.get(); }

 private:
  friend class TComSignalLink;

  void OnTimer(TObject* Sender);
  // The port went away: its handlers go with it, so nothing is put back.
  void ForgetPort();

  // The indicator's own work for a port event (the handlers installed on
  // the port do it, then call the saved handler; Comsignal.cpp).
  void PulseWork();
  void BeforeWriteWork();
  void AfterWriteWork();
  void AfterCloseWork();

  std::unique_ptr<TTimer> FTimer;
  TColor FColorOff = kDefaultColorOff;
  TColor FColorOn = kDefaultColorOn;
  TComPort* FComPort = nullptr;
  QMetaObject::Connection FComPortGone;
  QPointer<QWidget> FControl;
  qint32 FDelay = 100;
  TSignal FSignal = siNone;
  bool FSignalValue = false;
  // From the port's BeforeWrite to its AfterWrite, or to the first timer
  // expiry after a write that failed, or a close.
  bool FWriting = false;
  TNotifyEvent FOnSignal;
  // The attachment in force; null while detached. It keeps the saved
  // handlers and the codes of the installed ones.
  std::shared_ptr<TComSignalLink> FLink;
};
