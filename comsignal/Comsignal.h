/// @file
/// TComSignal: shows one line signal of a serial port component as the
/// colour of a widget: ColorOn while the signal is on, ColorOff while it is
/// off. It attaches to the port by taking over some of the port's event
/// handlers and calling the handlers that were there before, so the port's
/// owner keeps all of its own event handling.
///
/// Signals are of three kinds: pulses (an event of the port; lit on each
/// event, dark Delay ms after the last), the transmit signal (lit while the
/// port writes and up to Delay ms after, also when the write fails) and
/// levels (the four modem input lines, read from the port's modem status).
/// A close puts any signal out.
///
/// Chaining. Each attachment is one shared link object: the handlers the
/// indicator installs on the port hold the link, and the link holds the
/// handlers the port had before (the saved handlers). Detaching or
/// destroying the indicator cuts the link from the indicator and takes its
/// handlers out of the port's chains: where the port still holds one, the
/// saved handler goes back; where another indicator attached later saved
/// one, that indicator takes over the handler it had saved. So the chains
/// hold only indicators that are attached, and once all have detached the
/// port's handlers are the owner's again. Wherever a copy of an installed
/// handler survives all the same (kept by the owner), calling it only
/// passes the call on to the handler it had saved: the port never calls
/// into an indicator that has gone or no longer expects the event, and no
/// owner's handler is lost.
///
/// Threads. The indicator's own work (its value, timer and widget) is done
/// on the thread it lives on, the user-interface thread. A handler called
/// on another thread (line events with SynchronizeEvents off, writes from a
/// worker thread) posts that work there and calls the saved handler on the
/// calling thread at once.
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

/// The indicator's enumeration, registered with Qt so that stored
/// descriptions name its members; also brought into the global namespace.
namespace ComSignalTypes {
Q_NAMESPACE

/// The line signal shown, in this order (ordinals from 0).
enum TSignal {
  siNone,          ///< Nothing: always off.
  siBreak,         ///< Pulse on the port's OnBreak.
  siRxChar,        ///< Pulse on the port's OnRxChar.
  siTxChar,        ///< The transmit signal: lit while the port writes, and up to Delay after.
  siCTS,           ///< Level of the CTS line (OnCTSChange).
  siDSR,           ///< Level of the DSR line (OnDSRChange).
  siEvent1,        ///< Pulse on the port's OnEvent1.
  siEvent2,        ///< Pulse on the port's OnEvent2.
  siLineError,     ///< Pulse on the port's OnLineError.
  siPrinterError,  ///< Pulse on the port's OnPrinterError.
  siRing,          ///< Level of the ring line (OnRing).
  siRLSD,          ///< Level of the receive line signal detect (DCD) line (OnRLSDChange).
  siRx80PercFull,  ///< Pulse on the port's OnRx80PercFull.
  siRxFlag,        ///< Pulse on the port's OnRxFlag.
  siTxEmpty        ///< Pulse on the port's OnTxEmpty.
};
Q_ENUM_NS(TSignal)

}  // namespace ComSignalTypes

using ComSignalTypes::TSignal;
using enum ComSignalTypes::TSignal;

/// A colour as a 32-bit value 0x00BBGGRR (blue, green, red bytes); the top
/// byte is not used.
using TColor = qint32;

/// The Qt colour of 'color'. Any thread; never raises.
QColor ColorToQColor(TColor color);

class TComSignalLink;

/// Shows one line signal of a TComPort as the background colour of a widget.
///
/// Pulses (an event of the port) light on each event and go out Delay ms
/// after the last; the transmit signal (siTxChar) is lit while the port
/// writes and up to Delay ms after, also when the write fails; levels (the
/// four modem input lines) follow the port's modem status. A close puts any
/// signal out. Set the port's own handlers first, then attach indicators:
/// each chains itself in front of the handlers it finds.
///
/// **Threads.** Every member is called on the thread the indicator lives
/// on, the user-interface thread. Its handlers on the port may be called on
/// other threads (line events with SynchronizeEvents off, writes from a
/// worker thread): they post the indicator's work to its thread and call
/// the saved handler on the calling thread at once.
///
/// **Errors.** Attaching and detaching go through the port's handler
/// setters and read its modem status, so they can raise the port's
/// EComError; a member that attaches or detaches finishes its change first
/// and then raises the first error.
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
  static constexpr TColor kDefaultColorOff = 32768;  ///< Dark green, ColorOff's default.
  static constexpr TColor kDefaultColorOn = 65280;   ///< Bright green, ColorOn's default.

  /// A detached indicator owned by 'owner' (may be null), showing siNone,
  /// with Delay 100. The timer starts running; its first expiry, with
  /// nothing lit, only stops it again.
  explicit TComSignal(QObject* owner = nullptr);
  /// Detaches from the port; never raises.
  ~TComSignal() override;

  /// The indicator's name and version.
  QString About() const;
  /// Does nothing: About() is fixed.
  void SetAbout(const QString&) {}

  /// The colour while the signal is off (default kDefaultColorOff).
  TColor ColorOff() const { return FColorOff; }
  /// Sets ColorOff. Recolours the control at once when the colour changed.
  void SetColorOff(TColor value);
  /// The colour while the signal is on (default kDefaultColorOn).
  TColor ColorOn() const { return FColorOn; }
  /// Sets ColorOn. Only stored: the control shows it from its next
  /// recolouring on.
  void SetColorOn(TColor value) { FColorOn = value; }

  /// The port whose signal is shown; null: none.
  TComPort* ComPort() const { return FComPort; }
  /// Detaches from the current port and attaches to the new one (null:
  /// none), then takes the signal's current value. A port that refuses to
  /// take its handlers back does not stop the change.
  /// @throws EComError the port refuses a handler (e.g. line events without
  ///   an application object) or its modem status cannot be read; raised
  ///   once the change is done.
  void SetComPort(TComPort* value);

  /// Any widget; its background takes the colour. A widget that is deleted
  /// is forgotten. Null: none.
  QWidget* Control() const { return FControl; }
  /// Sets Control and colours it at once; never raises.
  void SetControl(QWidget* value);

  /// Milliseconds a pulse stays lit after its last event; 0: for ever (the
  /// timer never expires). Default 100.
  qint32 Delay() const { return FDelay; }
  /// Sets Delay; never raises.
  void SetDelay(qint32 value);

  /// The signal shown (default siNone).
  TSignal Signal() const { return FSignal; }
  /// Sets Signal. While attached: detaches with the old signal, stores the
  /// new one and attaches with it, then takes the new signal's current value.
  /// @throws EComError as SetComPort(); raised once the change is done.
  void SetSignal(TSignal value);

  /// True while the signal is on.
  bool SignalValue() const { return FSignalValue; }

  /// OnSignal: fired with the indicator as sender on every change of
  /// SignalValue, on the indicator's thread.
  TNotifyEvent OnSignal() const { return FOnSignal; }
  /// Sets OnSignal.
  void SetOnSignal(const TNotifyEvent& handler) { FOnSignal = handler; }

  /// After loading: attaches to ComPort, takes the signal's value and
  /// colours the control.
  /// @throws EComError as SetComPort().
  void Loaded() override;
  /// A port or control that goes away is forgotten (the port is not
  /// touched).
  void Notification(TComponent* component, TOperation operation) override;

  /// True while the indicator's handlers are installed on a port.
  bool Attached() const { return FLink != nullptr; }

 protected:
  /// @name For derived classes
  /// The indicator's thread.
  ///@{

  /// Attaches to ComPort (nothing while loading, at design time or without
  /// a port). An indicator that is attached already detaches first.
  /// @throws EComError the port refuses a handler.
  void RetrieveEvents();
  /// Detaches from ComPort: each handler of the port that is still the
  /// indicator's own goes back to the one it saved, and an indicator that
  /// saved the indicator's handler takes over that one; a handler that
  /// somebody else installed meanwhile stays.
  /// @throws EComError the port refuses a handler back (raised once all
  ///   handlers are dealt with).
  void RestoreEvents();
  /// A full Delay period begins now.
  void StartTimer();
  /// A changed value is stored, the control recoloured and OnSignal fired.
  void SetSignalValue(bool value);
  /// The value the signal has now: false unless the port is open; a level
  /// signal's modem line (one modem status read).
  /// @throws EComError the modem status cannot be read.
  void UpdateSignalValue();
  /// The control's background: ColorOn while the signal is on, ColorOff
  /// otherwise; nothing without a control.
  void UpdateColor();
  /// The timer behind Delay.
  TTimer* Timer() const { return FTimer.get(); }
  ///@}

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
