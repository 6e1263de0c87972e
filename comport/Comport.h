/// @file
/// The serial port component: TCustomComPort (the behaviour) and TComPort
/// (publishes it), its exception EComError, the four settings groups and the
/// setting enumerations.
///
/// One component owns one serial device while it is open. Settings are
/// stored first and applied to an open device at once (closed ports apply
/// everything at the next open); a "...Default" member leaves the driver's
/// current value alone. Every failure leaves the component as EComError,
/// offered to OnError first, which may turn it into the silent EAbort.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/Exception.h"
#include "framework/MethodTable.h"
#include "framework/Persistent.h"
#include "framework/Thread.h"
#include "platform/DeviceNames.h"
#include "platform/ProcessPriority.h"
#include "platform/SerialDevice.h"

// ---------------------------------------------------------------------------
/// Setting enumerations. Registered with Qt so that stored descriptions name
/// the members (br115200, paNone, ...). Ordinals start at 0 in this order.
/// Each is also brought into the global namespace, type and members alike.
namespace ComPortTypes {
Q_NAMESPACE

/// The line's bit rate. A named rate is that many bits per second.
enum TBaudRate {
  brDefault,  ///< Keeps the rate the device has.
  br50,       ///< 50 bit/s.
  br75,       ///< 75 bit/s.
  br110,      ///< 110 bit/s.
  br150,      ///< 150 bit/s.
  br300,      ///< 300 bit/s.
  br600,      ///< 600 bit/s.
  br1200,     ///< 1200 bit/s.
  br1800,     ///< 1800 bit/s.
  br2000,     ///< 2000 bit/s.
  br2400,     ///< 2400 bit/s.
  br3600,     ///< 3600 bit/s.
  br4800,     ///< 4800 bit/s.
  br7200,     ///< 7200 bit/s.
  br9600,     ///< 9600 bit/s.
  br10400,    ///< 10400 bit/s.
  br14400,    ///< 14400 bit/s.
  br15625,    ///< 15625 bit/s.
  br19200,    ///< 19200 bit/s.
  br28800,    ///< 28800 bit/s.
  br38400,    ///< 38400 bit/s.
  br56000,    ///< 56000 bit/s.
  br57600,    ///< 57600 bit/s.
  br115200,   ///< 115200 bit/s.
  br128000,   ///< 128000 bit/s.
  br256000,   ///< 256000 bit/s.
  brCustom    ///< The rate in TCustomComPort::CustomBaudRate.
};
Q_ENUM_NS(TBaudRate)

/// Data bits per character.
enum TDataBits {
  dbDefault,  ///< Keeps the device's value.
  db4,        ///< 4 data bits.
  db5,        ///< 5 data bits.
  db6,        ///< 6 data bits.
  db7,        ///< 7 data bits.
  db8,        ///< 8 data bits.
  db9         ///< 9 data bits.
};
Q_ENUM_NS(TDataBits)

/// The parity bit.
enum TParity {
  paDefault,  ///< Keeps the device's parity.
  paNone,     ///< No parity bit.
  paOdd,      ///< Odd parity.
  paEven,     ///< Even parity.
  paMark,     ///< Parity bit always 1.
  paSpace     ///< Parity bit always 0.
};
Q_ENUM_NS(TParity)

/// Stop bits per character.
enum TStopBits {
  sbDefault,  ///< Keeps the device's value.
  sb1,        ///< One stop bit.
  sb1_5,      ///< One and a half stop bits.
  sb2         ///< Two stop bits.
};
Q_ENUM_NS(TStopBits)

/// Flags of the device control block. One bit per option; the bit number
/// is the option's ordinal. A Linux device acts on opCheckParity,
/// opOutputCTSFlow (RTS/CTS flow control, both directions) and
/// opDiscardNullBytes; it keeps the others as set and reports them back.
enum TOption {
  opCheckParity = 0x01,       ///< Parity checking on input.
  opOutputCTSFlow = 0x02,     ///< CTS output flow control.
  opOutputDSRFlow = 0x04,     ///< DSR output flow control.
  opDSRSensitivity = 0x08,    ///< DSR sensitivity of the input.
  opTXContinueOnXOff = 0x10,  ///< Transmission continues after XOFF was sent.
  opUseErrorChar = 0x20,      ///< Bytes with a parity error become TCharacters::Error.
  opDiscardNullBytes = 0x40,  ///< Received NUL bytes are dropped.
  opAbortOnError = 0x80       ///< Transfers abort on a line error.
};
/// A set of TOption.
Q_DECLARE_FLAGS(TOptions, TOption)
Q_FLAG_NS(TOptions)

/// How the port drives DTR.
enum TDTRControl {
  dcDefault,   ///< Keeps the device's setting.
  dcDisable,   ///< DTR off while the port is open.
  dcEnable,    ///< DTR on while the port is open.
  dcHandshake  ///< Handshake mode; a Linux device keeps DTR on.
};
Q_ENUM_NS(TDTRControl)

/// How the port drives RTS.
enum TRTSControl {
  rcDefault,    ///< Keeps the device's setting.
  rcDisable,    ///< RTS off while the port is open.
  rcEnable,     ///< RTS on while the port is open.
  rcHandshake,  ///< RTS handshaking (RTS/CTS flow control).
  rcToggle      ///< Toggle mode; a Linux device keeps RTS off between writes.
};
Q_ENUM_NS(TRTSControl)

/// Software (XON/XOFF) flow control.
enum TXOnXOffControl {
  xcDefault,     ///< Keeps the device's setting.
  xcDisable,     ///< None.
  xcInput,       ///< On input: the port sends XOFF and XON.
  xcOutput,      ///< On output: the port obeys XOFF and XON received.
  xcInputOutput  ///< Both directions.
};
Q_ENUM_NS(TXOnXOffControl)

/// The process's priority class while the port is open; restored at close.
enum TPriorityClass {
  pcDefault,  ///< The priority is not changed.
  pcIdle,     ///< Idle.
  pcNormal,   ///< Normal.
  pcHigh,     ///< High.
  pcRealTime  ///< Real time.
};
Q_ENUM_NS(TPriorityClass)

/// The decision of an OnError handler.
enum TComAction {
  caFail,  ///< The EComError is raised (the default).
  caAbort  ///< The silent EAbort is raised instead.
};
Q_ENUM_NS(TComAction)

/// Line errors reported by the driver. TLineErrors is a 16-bit set: the
/// member of ordinal i is bit i.
enum TLineError {
  leBreak = 0x0001,              ///< A break was received.
  leDeviceNotSelected = 0x0002,  ///< Parallel device not selected.
  leFrame = 0x0004,              ///< Framing error.
  leIO = 0x0008,                 ///< Input/output error.
  leMode = 0x0010,               ///< The requested mode is not supported.
  leOutOfPaper = 0x0020,         ///< Parallel device out of paper.
  leOverrun = 0x0040,            ///< Character buffer overrun: a byte was lost.
  leDeviceTimeOut = 0x0080,      ///< Parallel device timed out.
  leRxOverflow = 0x0100,         ///< Input queue overflow.
  leParity = 0x0200,             ///< Parity error.
  leTxFull = 0x0400              ///< The output queue was full.
};
/// A set of TLineError.
Q_DECLARE_FLAGS(TLineErrors, TLineError)
Q_FLAG_NS(TLineErrors)

/// The modem input lines. TModemStatus is a set: the member of ordinal i is
/// bit i.
enum TModemStatusValue {
  msCTS = 0x01,  ///< Clear to send.
  msDSR = 0x02,  ///< Data set ready.
  msRing = 0x04, ///< Ring indicator.
  msRLSD = 0x08  ///< Receive line signal detect (DCD).
};
/// A set of TModemStatusValue: the lines that are on.
Q_DECLARE_FLAGS(TModemStatus, TModemStatusValue)
Q_FLAG_NS(TModemStatus)

}  // namespace ComPortTypes

Q_DECLARE_OPERATORS_FOR_FLAGS(ComPortTypes::TOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(ComPortTypes::TLineErrors)
Q_DECLARE_OPERATORS_FOR_FLAGS(ComPortTypes::TModemStatus)

using ComPortTypes::TBaudRate;
using enum ComPortTypes::TBaudRate;
using ComPortTypes::TDataBits;
using enum ComPortTypes::TDataBits;
using ComPortTypes::TParity;
using enum ComPortTypes::TParity;
using ComPortTypes::TStopBits;
using enum ComPortTypes::TStopBits;
using ComPortTypes::TOption;
using ComPortTypes::TOptions;
using enum ComPortTypes::TOption;
using ComPortTypes::TDTRControl;
using enum ComPortTypes::TDTRControl;
using ComPortTypes::TRTSControl;
using enum ComPortTypes::TRTSControl;
using ComPortTypes::TXOnXOffControl;
using enum ComPortTypes::TXOnXOffControl;
using ComPortTypes::TPriorityClass;
using enum ComPortTypes::TPriorityClass;
using ComPortTypes::TComAction;
using enum ComPortTypes::TComAction;
using ComPortTypes::TLineError;
using ComPortTypes::TLineErrors;
using enum ComPortTypes::TLineError;
using ComPortTypes::TModemStatus;
using ComPortTypes::TModemStatusValue;
using enum ComPortTypes::TModemStatusValue;

// ---------------------------------------------------------------------------
/// The component's one exception type: a message and the platform's error
/// code (0 for the component's own conditions).
///
/// The message (what()) is the system's text for a platform error, or the
/// component's own text ("Timeout", "Can't perform this operation on a
/// closed port", ...).
class EComError : public Exception {
 public:
  /// An error with the platform's error code (an errno value, 0 for the
  /// component's own conditions) and its text.
  EComError(int code, const std::string& message) : Exception(message), ComErrorCode(code) {}
  /// The platform's error code (an errno value); 0 for the component's own
  /// conditions.
  int ComErrorCode;
};

class TCustomComPort;
class TComThread;

/// @name Handler types
/// Handlers are bound methods or function objects (TEvent); an unassigned
/// handler is never called.
///@{

/// OnError: the port, the error about to be raised, and the decision
/// (caFail on entry; caAbort raises the silent EAbort instead).
using TComErrorEvent = TEvent<void(TCustomComPort* ComPort, EComError& E, TComAction& Action)>;
/// BeforeOpen, AfterOpen, BeforeClose, AfterClose: the port.
using TOpenCloseEvent = TEvent<void(TCustomComPort* ComPort)>;
/// OnLineError: the port and the line errors fetched.
using TLineErrorEvent = TEvent<void(TObject* Sender, TLineErrors LineErrors)>;
/// BeforeRead, AfterRead, BeforeWrite, AfterWrite: the port, the transfer's
/// buffer, length and wait flag. Buffer is the address the caller passed
/// (for a non-waiting write the caller's buffer, never the component's
/// copy).
using TReadWriteEvent = TEvent<void(TObject* Sender, const void* Buffer, int Length, bool WaitOnCompletion)>;
///@}
DECLARE_EVENT_TYPE(TComErrorEvent)
DECLARE_EVENT_TYPE(TOpenCloseEvent)
DECLARE_EVENT_TYPE(TLineErrorEvent)
DECLARE_EVENT_TYPE(TReadWriteEvent)
/// @name Device notice handler types
/// A device arrived or was removed: a port name for ports, the device path
/// for other devices. Both events have this one type.
///@{

/// OnDeviceArrival: the port and the name of the device that arrived.
using TDeviceArrivalEvent = TEvent<void(TObject* Sender, const QString& DeviceName)>;
/// OnDeviceRemoved: the port and the name of the device that went.
using TDeviceRemovedEvent = TDeviceArrivalEvent;
///@}
DECLARE_EVENT_TYPE(TDeviceArrivalEvent)

/// The component's growable byte array.
using TBytes = std::vector<uint8_t>;

/// @cond INTERNAL
// What a port and its event thread share. The thread frees itself, and the
// port may be closed or destroyed while a dispatch of the thread waits on
// the user-interface thread, so neither refers to the other directly:
// - Port is cleared on the user-interface thread when the port stops or
//   drops the thread; a dispatch queued there checks it first and does
//   nothing once it is null.
// - Thread is cleared by the thread as it frees itself; the port reaches
//   the thread object only under Mutex, so never after it has gone.
//
// A thread that the port stopped while staying open (its last line-event
// handler went) may still hold a batch it took before: it hands that batch
// to the port through the open's session, and the port puts it back into
// the device for the thread it runs for the handlers set afterwards.
struct TComOpenSession {
  explicit TComOpenSession(TCustomComPort* port) : Port(port) {}
  // The port during one open; cleared on the user-interface thread when it
  // closes or goes.
  std::atomic<TCustomComPort*> Port;
};

struct TComThreadLink {
  TComThreadLink(TCustomComPort* port, std::shared_ptr<TComOpenSession> session)
      : Port(port), Session(std::move(session)) {}
  std::atomic<TCustomComPort*> Port;
  const std::shared_ptr<TComOpenSession> Session;
  std::mutex Mutex;
  TComThread* Thread = nullptr;  // guarded by Mutex
};
/// @endcond

// ---------------------------------------------------------------------------
// Settings groups. Each belongs to one port for its whole life and applies
// a changed value through that port. A setter given the current value does
// nothing.

/// Flow control settings of a port (TCustomComPort::FlowControl).
///
/// The group belongs to one port for its whole life and applies a changed
/// value through that port at once when it is open (closed ports apply it
/// at the next open). A setter given the current value does nothing. Call
/// it on the port's thread; a setter raises EComError (through the port's
/// OnError) when the open device refuses the value, which stays stored.
class TFlowControl : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(ComPortTypes::TDTRControl DTR READ DTR WRITE SetDTRControl)
  Q_PROPERTY(ComPortTypes::TRTSControl RTS READ RTS WRITE SetRTSControl)
  Q_PROPERTY(ComPortTypes::TXOnXOffControl XOnXOff READ XOnXOff WRITE SetXOnXOffControl)
  Q_PROPERTY(quint16 XOnLimit READ XOnLimit WRITE SetXOnLimit)
  Q_PROPERTY(quint16 XOffLimit READ XOffLimit WRITE SetXOffLimit)
  Q_CLASSINFO("Default:DTR", "dcDefault")
  Q_CLASSINFO("Default:RTS", "rcDefault")
  Q_CLASSINFO("Default:XOnXOff", "xcDefault")
  Q_CLASSINFO("Default:XOnLimit", "0")
  Q_CLASSINFO("Default:XOffLimit", "0")

 public:
  /// The group of 'comPort', with every value at its default.
  explicit TFlowControl(TCustomComPort* comPort);

  /// How DTR is driven (default dcDefault).
  TDTRControl DTR() const { return FDTR; }
  /// How RTS is driven (default rcDefault).
  TRTSControl RTS() const { return FRTS; }
  /// Software flow control (default xcDefault).
  TXOnXOffControl XOnXOff() const { return FXOnXOff; }
  /// The device control block's XON limit in bytes (default 0); a Linux
  /// device keeps it as set.
  quint16 XOnLimit() const { return FXOnLimit; }
  /// The device control block's XOFF limit in bytes (default 0); a Linux
  /// device keeps it as set.
  quint16 XOffLimit() const { return FXOffLimit; }

  /// Sets DTR(); applied at once to an open port.
  void SetDTRControl(TDTRControl value);
  /// Sets RTS(); applied at once to an open port.
  void SetRTSControl(TRTSControl value);
  /// Sets XOnXOff(); applied at once to an open port.
  void SetXOnXOffControl(TXOnXOffControl value);
  /// Sets XOnLimit(); applied at once to an open port.
  void SetXOnLimit(quint16 value);
  /// Sets XOffLimit(); applied at once to an open port.
  void SetXOffLimit(quint16 value);

  /// The port the group belongs to.
  TCustomComPort* ComPort() const { return FComPort; }

 private:
  friend class TCustomComPort;  // reads a device control block back directly
  TCustomComPort* const FComPort;
  TDTRControl FDTR = dcDefault;
  TRTSControl FRTS = rcDefault;
  TXOnXOffControl FXOnXOff = xcDefault;
  quint16 FXOnLimit = 0;
  quint16 FXOffLimit = 0;
};

/// The five special characters, as 8-bit codes (TCustomComPort::Characters).
///
/// Same rules as TFlowControl: a changed value applies at once to an open
/// port, on the port's thread; the setter raises EComError (through the
/// port's OnError) when the open device refuses it.
class TCharacters : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(quint8 XOn READ XOn WRITE SetXOn)
  Q_PROPERTY(quint8 XOff READ XOff WRITE SetXOff)
  Q_PROPERTY(quint8 Error READ Error WRITE SetError)
  Q_PROPERTY(quint8 Eof READ Eof WRITE SetEof)
  Q_PROPERTY(quint8 Event READ Event WRITE SetEvent)
  Q_CLASSINFO("Default:XOn", "17")
  Q_CLASSINFO("Default:XOff", "19")
  Q_CLASSINFO("Default:Error", "0")
  Q_CLASSINFO("Default:Eof", "0")
  Q_CLASSINFO("Default:Event", "0")

 public:
  /// The group of 'comPort', with every character at its default.
  explicit TCharacters(TCustomComPort* comPort);

  /// The XON character (default 17). A device refuses XON equal to XOFF
  /// while software flow control is on.
  quint8 XOn() const { return FXOn; }
  /// The XOFF character (default 19).
  quint8 XOff() const { return FXOff; }
  /// The error replacement character for opUseErrorChar (default 0); a
  /// Linux device keeps it as set.
  quint8 Error() const { return FError; }
  /// The end-of-data character (default 0); a Linux device keeps it as set.
  quint8 Eof() const { return FEof; }
  /// The character whose arrival fires OnRxFlag (default 0).
  quint8 Event() const { return FEvent; }

  /// Sets XOn(); applied at once to an open port.
  void SetXOn(quint8 value);
  /// Sets XOff(); applied at once to an open port.
  void SetXOff(quint8 value);
  /// Sets Error(); applied at once to an open port.
  void SetError(quint8 value);
  /// Sets Eof(); applied at once to an open port.
  void SetEof(quint8 value);
  /// Sets Event(); applied at once to an open port.
  void SetEvent(quint8 value);

  /// The port the group belongs to.
  TCustomComPort* ComPort() const { return FComPort; }

 private:
  void Change(quint8& field, quint8 value);
  TCustomComPort* const FComPort;
  quint8 FXOn = 17;
  quint8 FXOff = 19;
  quint8 FError = 0;
  quint8 FEof = 0;
  quint8 FEvent = 0;
};

/// Recommended sizes of the driver's receive and transmit queues, in bytes
/// (TCustomComPort::BufferSizes).
///
/// Same rules as TFlowControl: a changed size applies at once to an open
/// port, on the port's thread; the setter raises EComError (through the
/// port's OnError) when the open device refuses it.
class TBufferSizes : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(qint32 Input READ Input WRITE SetInput)
  Q_PROPERTY(qint32 Output READ Output WRITE SetOutput)
  Q_CLASSINFO("Default:Input", "4096")
  Q_CLASSINFO("Default:Output", "2048")

 public:
  /// The group of 'comPort', with the default sizes.
  explicit TBufferSizes(TCustomComPort* comPort);

  /// Receive queue size (default 4096).
  qint32 Input() const { return FInput; }
  /// Transmit queue size (default 2048).
  qint32 Output() const { return FOutput; }
  /// Sets Input(); applied at once to an open port.
  void SetInput(qint32 value);
  /// Sets Output(); applied at once to an open port.
  void SetOutput(qint32 value);

  /// The port the group belongs to.
  TCustomComPort* ComPort() const { return FComPort; }

 private:
  void Change(qint32& field, qint32 value);
  TCustomComPort* const FComPort;
  qint32 FInput = 4096;
  qint32 FOutput = 2048;
};

/// Driver timeouts in milliseconds, handed to the driver unchanged (0 means
/// no limit of that kind) (TCustomComPort::Timeouts).
///
/// A read's limit is ReadMultiplier per byte asked for plus ReadConstant,
/// and ReadInterval between two bytes; a write's is WriteMultiplier per
/// byte plus WriteConstant. A ReadInterval of -1 (all bits set) with both
/// read totals 0 makes a read return at once with what is there.
///
/// Same rules as TFlowControl: a changed value applies at once to an open
/// port, on the port's thread; the setter raises EComError (through the
/// port's OnError) when the open device refuses it.
class TTimeouts : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(qint32 ReadInterval READ ReadInterval WRITE SetReadInterval)
  Q_PROPERTY(qint32 ReadMultiplier READ ReadMultiplier WRITE SetReadMultiplier)
  Q_PROPERTY(qint32 ReadConstant READ ReadConstant WRITE SetReadConstant)
  Q_PROPERTY(qint32 WriteMultiplier READ WriteMultiplier WRITE SetWriteMultiplier)
  Q_PROPERTY(qint32 WriteConstant READ WriteConstant WRITE SetWriteConstant)
  Q_CLASSINFO("Default:ReadInterval", "0")
  Q_CLASSINFO("Default:ReadMultiplier", "0")
  Q_CLASSINFO("Default:ReadConstant", "0")
  Q_CLASSINFO("Default:WriteMultiplier", "0")
  Q_CLASSINFO("Default:WriteConstant", "0")

 public:
  /// The group of 'comPort', with every timeout 0.
  explicit TTimeouts(TCustomComPort* comPort);

  /// Longest pause between two received bytes (default 0).
  qint32 ReadInterval() const { return FReadInterval; }
  /// Read time per byte asked for (default 0).
  qint32 ReadMultiplier() const { return FReadMultiplier; }
  /// Read time added to each read (default 0).
  qint32 ReadConstant() const { return FReadConstant; }
  /// Write time per byte (default 0).
  qint32 WriteMultiplier() const { return FWriteMultiplier; }
  /// Write time added to each write (default 0).
  qint32 WriteConstant() const { return FWriteConstant; }

  /// Sets ReadInterval(); applied at once to an open port.
  void SetReadInterval(qint32 value);
  /// Sets ReadMultiplier(); applied at once to an open port.
  void SetReadMultiplier(qint32 value);
  /// Sets ReadConstant(); applied at once to an open port.
  void SetReadConstant(qint32 value);
  /// Sets WriteMultiplier(); applied at once to an open port.
  void SetWriteMultiplier(qint32 value);
  /// Sets WriteConstant(); applied at once to an open port.
  void SetWriteConstant(qint32 value);

  /// The port the group belongs to.
  TCustomComPort* ComPort() const { return FComPort; }

 private:
  void Change(qint32& field, qint32 value);
  TCustomComPort* const FComPort;
  qint32 FReadInterval = 0;
  qint32 FReadMultiplier = 0;
  qint32 FReadConstant = 0;
  qint32 FWriteMultiplier = 0;
  qint32 FWriteConstant = 0;
};

// ---------------------------------------------------------------------------
/// The serial port component's behaviour; TComPort publishes it.
///
/// One port owns one serial device while it is open. Settings are stored
/// first and applied to an open device at once (a closed port applies
/// everything at the next open); a "...Default" value leaves the driver's
/// current value alone.
///
/// **Errors.** Every failure is raised as EComError: a platform error with
/// its errno value and the system's text, or one of the component's own
/// conditions with code 0. Each is offered to OnError first, which may turn
/// it into the silent EAbort. Writing the log file can raise EInOutError;
/// an exception raised by a handler passes through the call that fired it.
///
/// **Threads.** The port lives on the user-interface thread (the thread of
/// the application object), where its members are called unless a member
/// says otherwise. Transfers, queue operations, line control and the line
/// error checks may also be made on another thread (a line-event handler
/// with SynchronizeEvents off runs on the port's event thread, or a worker
/// thread), one thread at a time: the component takes no lock for them.
/// Members marked "any thread" may be called on any thread at any time.
///
/// Line events need an application object (any QCoreApplication) whose
/// event loop runs on the user-interface thread: their handlers run there,
/// or on the port's event thread with SynchronizeEvents off.
class TCustomComPort : public TComponent {
  Q_OBJECT

 public:
  /// Opens a device by name; null with the thread's last error set on failure.
  using TDeviceFactory = std::function<platform::SerialDevicePtr(const std::string& name)>;

  /// A closed port with every setting at its default, owned by 'owner'
  /// (may be null).
  explicit TCustomComPort(QObject* owner = nullptr);
  /// Stops the device notices and closes the port; never raises (an error
  /// of the close is dropped and the device released all the same). A port
  /// that goes with its owner closes without calling any handler.
  ~TCustomComPort() override;

  /// @name Open and close
  /// User-interface thread.
  ///@{

  /// The component's name and version.
  QString About() const;
  /// Does nothing: About() is fixed.
  void SetAbout(const QString&) {}

  /// True while the port is open; at design time, the recorded value.
  bool Active() const;
  /// Opens (true) or closes (false) the port and records the value. While
  /// loading or at design time only the value is recorded (Loaded() applies
  /// it). Raises what Open() or Close() raises; the value is then not
  /// recorded.
  void SetActive(bool value);
  /// After loading: applies the recorded Active value (may open the port
  /// and raise as Open() does).
  void Loaded() override;

  /// Opens the device DeviceName names and applies every setting: calls
  /// BeforeOpen, opens the device (through the device factory), empties
  /// both queues, applies the queue sizes, the line settings, the timeouts
  /// and the event mask (starting the event thread when a line-event
  /// handler is set), writes the log entry "Open <name>" and calls
  /// AfterOpen. Does nothing when the port is open or at design time.
  /// Changes the process's priority class first unless PriorityClass is
  /// pcDefault.
  ///
  /// @throws EComError the device cannot be opened (the system's error:
  ///   ENOENT, EACCES, EBUSY, ...; ENODEV when the factory gave no device
  ///   without a code; EINVAL for a name with a NUL), the device refuses a
  ///   setting, "Line events need an application object" (a line-event
  ///   handler is set and there is no application object) or "Can't create
  ///   thread". The port is then closed again.
  /// @throws EInOutError the log file cannot be written (the port stays
  ///   open; AfterOpen is not called).
  void Open();
  /// Closes the port: calls BeforeClose, stops the event thread, releases
  /// the device (transfers under way are forgotten; events a stopped thread
  /// held are dropped), restores the process's priority class, writes the
  /// log entry "Close <name>" and calls AfterClose. Does nothing when the
  /// port is closed. Called on the port's own event thread (a handler with
  /// SynchronizeEvents off) the close runs on the user-interface thread
  /// while the caller waits.
  /// @throws EInOutError the log file cannot be written (the device is
  ///   released all the same).
  void Close();

  /// Raises unless the port is open (holds a device; a design-time
  /// instance recorded as active holds none).
  /// @throws EComError "Can't perform this operation on a closed port".
  void CheckActive();
  /// Raises when the port is open (never at design time).
  /// @throws EComError "Can't perform this operation on an open port".
  void CheckInactive();

  /// The device to open: a name without a path separator is a device in
  /// the system's device namespace ("ttyUSB0" is "/dev/ttyUSB0" on Linux,
  /// "COM5" is "\\.\COM5" on Windows), any other name a path (see
  /// DevicePath()).
  QString DeviceName() const { return FDeviceName; }
  /// Sets DeviceName.
  /// @throws EComError the port is open and the name differs
  ///   (CheckInactive()).
  void SetDeviceName(const QString& value);
  /// Whether line-event handlers run on the user-interface thread (true,
  /// the default) or on the port's event thread (false).
  bool SynchronizeEvents() const { return FSynchronizeEvents; }
  /// Sets SynchronizeEvents.
  /// @throws EComError the port is open and the value differs.
  void SetSynchronizeEvents(bool value);
  /// The process's priority class while the port is open (default
  /// pcDefault: unchanged). A class the system refuses leaves the priority
  /// as it was.
  TPriorityClass PriorityClass() const { return FPriorityClass; }
  /// Sets PriorityClass; it applies from the next open.
  /// @throws EComError the port is open and the value differs.
  void SetPriorityClass(TPriorityClass value);
  /// Priority of the event thread; a change reaches a running thread at once.
  /// Default tpTimeCritical.
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  /// Sets ThreadPriority; never raises.
  void SetThreadPriority(TThreadPriority value);

  /// How the device is opened; platform::OpenSerialDevice unless replaced
  /// (tests put a device double here). Applies from the next open. An
  /// empty factory restores platform::OpenSerialDevice.
  void SetDeviceFactory(TDeviceFactory factory);
  ///@}

  /// @name Queue operations
  /// Each is one driver call on the open device and does nothing on a
  /// closed port. Thread: as transfers. Raises EComError (through OnError)
  /// with the system's error when the driver call fails.
  ///@{

  /// Aborts pending reads and drops received data.
  void PurgeInput();
  /// Aborts pending writes and drops unsent data.
  void PurgeOutput();
  /// Drops received data.
  void ClearInput();
  /// Drops unsent data.
  void ClearOutput();
  /// Aborts pending reads.
  void AbortInput();
  /// Aborts pending writes.
  void AbortOutput();
  /// Returns once all buffered output has been sent.
  void Flush();
  ///@}

  /// @name Open and close handlers
  /// Called by Open() and Close() on the user-interface thread; set there
  /// too. What a handler raises passes through Open() or Close().
  ///@{

  /// BeforeOpen: called by Open() before the device is opened.
  TOpenCloseEvent BeforeOpen() const { return FBeforeOpen; }
  /// Sets BeforeOpen.
  void SetBeforeOpen(const TOpenCloseEvent& handler) { FBeforeOpen = handler; }
  /// AfterOpen: called by Open() once the port is open and configured.
  TOpenCloseEvent AfterOpen() const { return FAfterOpen; }
  /// Sets AfterOpen.
  void SetAfterOpen(const TOpenCloseEvent& handler) { FAfterOpen = handler; }
  /// BeforeClose: called by Close() while the device is still open.
  TOpenCloseEvent BeforeClose() const { return FBeforeClose; }
  /// Sets BeforeClose.
  void SetBeforeClose(const TOpenCloseEvent& handler) { FBeforeClose = handler; }
  /// AfterClose: called by Close() once the device is released.
  TOpenCloseEvent AfterClose() const { return FAfterClose; }
  /// Sets AfterClose.
  void SetAfterClose(const TOpenCloseEvent& handler) { FAfterClose = handler; }
  ///@}

  /// @name Settings
  /// Stored, and applied at once to an open port (a closed port applies
  /// them at the next open). A setter given the current value does nothing.
  /// User-interface thread. A setter raises EComError (through OnError)
  /// when the open device refuses the new value, which stays stored.
  ///@{

  /// The bit rate (default brDefault: the device's rate).
  TBaudRate BaudRate() const { return FBaudRate; }
  /// Sets BaudRate.
  void SetBaudRate(TBaudRate value);
  /// The stored custom rate under brCustom, else the rate BaudRate selects
  /// (0 for brDefault).
  qint32 CustomBaudRate() const;
  /// Stores a custom rate in bit/s and selects brCustom. Compared with the
  /// stored custom rate, not with the rate in effect.
  void SetCustomBaudRate(qint32 value);
  /// Whether CustomBaudRate is stored in descriptions: only under brCustom.
  Q_INVOKABLE bool StoreCustomBaudRate() const { return FBaudRate == brCustom; }
  /// Data bits (default dbDefault).
  TDataBits DataBits() const { return FDataBits; }
  /// Sets DataBits.
  void SetDataBits(TDataBits value);
  /// Parity (default paDefault).
  TParity Parity() const { return FParity; }
  /// Sets Parity.
  void SetParity(TParity value);
  /// Stop bits (default sbDefault).
  TStopBits StopBits() const { return FStopBits; }
  /// Sets StopBits.
  void SetStopBits(TStopBits value);
  /// The device control block's option flags (default: none). Unlike the
  /// other settings they are always written into the block.
  TOptions Options() const { return FOptions; }
  /// Sets Options.
  void SetOptions(TOptions value);

  /// The port's flow control settings; owned by the port, never null.
  TFlowControl* FlowControl() const { return FFlowControl.get(); }
  /// The port's special characters; owned by the port, never null.
  TCharacters* Characters() const { return FCharacters.get(); }
  /// The port's queue sizes; owned by the port, never null.
  TBufferSizes* BufferSizes() const { return FBufferSizes.get(); }
  /// The port's timeouts; owned by the port, never null.
  TTimeouts* Timeouts() const { return FTimeouts.get(); }
  /// Copies the source's values into the port's own group (never taking the
  /// source); each changed value applies at once to an open port. A null
  /// source, or the port's own group, changes nothing.
  void SetFlowControl(const TFlowControl* source);
  /// As SetFlowControl(), for the special characters.
  void SetCharacters(const TCharacters* source);
  /// As SetFlowControl(), for the queue sizes.
  void SetBufferSizes(const TBufferSizes* source);
  /// As SetFlowControl(), for the timeouts.
  void SetTimeouts(const TTimeouts* source);

  /// toDcb true: settings into the block (which holds the driver's values);
  /// false: the block back into the settings (without applying them, except
  /// through the setters of the rate, the characters and the limits).
  /// Into the block, only values not at their default replace the driver's;
  /// the characters, the limits and the option flags are always written.
  /// Back from the block, a value no member names leaves its setting as it
  /// was. Raises only as those setters do.
  void CopyDCB(platform::DCB& dcb, bool toDcb);
  ///@}

  /// @name Errors and log
  ///@{

  /// Raises EComError(code, message) after offering it to OnError: a
  /// handler that sets caAbort makes it the silent EAbort instead. Any
  /// thread (OnError runs on the calling thread).
  /// @throws EComError always, or EAbort.
  [[noreturn]] void RaiseError(int code, const std::string& message);
  /// Raises the thread's last platform error unless 'ok' (or the code is 0
  /// or the "queued" code). The last error is cleared before raising. Any
  /// thread.
  /// @throws EComError with the error's code and the system's text.
  void Check(bool ok);
  /// Raises ThreadErrorCode, the error of the event thread's last failed
  /// wait, as Check() does. Any thread.
  /// @throws EComError always, or EAbort.
  [[noreturn]] void RaiseThreadError();

  /// True while LogFile is set. Read by the event thread as well: a flag, so
  /// nothing is locked while nothing is logged. Any thread.
  bool Log() const { return FLogging.load(std::memory_order_acquire); }
  /// Appends one time-stamped line (with an optional "$41, $54" dump of
  /// 'count' bytes at 'data') when logging is on, in one append, so lines
  /// written by two threads never interleave. Any thread. A file that
  /// cannot be written raises EInOutError; an entry written only in part
  /// is cut off again.
  /// @throws EInOutError the log file cannot be opened or written.
  void WriteLog(const QString& text, const void* data = nullptr, int count = 0);
  /// The entry's stamp: short date and long time of the system locale, the
  /// time left out at midnight. Any thread.
  static QString LogTimeStamp(const QDateTime& when);

  /// The log file (default empty: no log). Both LogFile and OnError may
  /// change while the event thread reads them (with SynchronizeEvents off);
  /// each read takes a copy. Any thread.
  QString LogFile() const;
  /// Sets LogFile; empty switches logging off. Any thread.
  void SetLogFile(const QString& value);
  /// The error handler, offered every error before it is raised; it runs
  /// on the thread where the error arose. Any thread.
  TComErrorEvent OnError() const;
  /// Sets OnError. Any thread.
  void SetOnError(const TComErrorEvent& handler);

  /// Platform error code of the event thread's last failed wait.
  int ThreadErrorCode = 0;
  ///@}

  /// @name Line events
  /// A setter given a handler with the same method as the current one does
  /// nothing (the bound object is not compared); otherwise it stores the
  /// handler and applies the event mask to an open port, starting or
  /// stopping the event thread. The handlers run on the user-interface
  /// thread, or on the event thread with SynchronizeEvents off, with the
  /// port as sender, in the driver's order within one batch.
  ///
  /// Setters: user-interface thread. On an open port a setter raises
  /// EComError (through OnError) when the device refuses the event mask,
  /// with "Line events need an application object" when there is none, or
  /// with "Can't create thread".
  ///@{

  /// OnBreak: a break was received.
  TNotifyEvent OnBreak() const { return FOnBreak; }
  /// Sets OnBreak.
  void SetOnBreak(const TNotifyEvent& handler);
  /// OnCTSChange: the CTS line changed.
  TNotifyEvent OnCTSChange() const { return FOnCTSChange; }
  /// Sets OnCTSChange.
  void SetOnCTSChange(const TNotifyEvent& handler);
  /// OnDSRChange: the DSR line changed.
  TNotifyEvent OnDSRChange() const { return FOnDSRChange; }
  /// Sets OnDSRChange.
  void SetOnDSRChange(const TNotifyEvent& handler);
  /// OnLineError: line errors occurred; also called by CheckLineErrors(),
  /// InputCount(), OutputCount() and the transfers' completion checks
  /// with the errors they fetched.
  TLineErrorEvent OnLineError() const { return FOnLineError; }
  /// Sets OnLineError.
  void SetOnLineError(const TLineErrorEvent& handler);
  /// OnEvent1: the driver's first device-specific event.
  TNotifyEvent OnEvent1() const { return FOnEvent1; }
  /// Sets OnEvent1.
  void SetOnEvent1(const TNotifyEvent& handler);
  /// OnEvent2: the driver's second device-specific event.
  TNotifyEvent OnEvent2() const { return FOnEvent2; }
  /// Sets OnEvent2.
  void SetOnEvent2(const TNotifyEvent& handler);
  /// OnPrinterError: a printer error.
  TNotifyEvent OnPrinterError() const { return FOnPrinterError; }
  /// Sets OnPrinterError.
  void SetOnPrinterError(const TNotifyEvent& handler);
  /// OnRing: a ring was detected.
  TNotifyEvent OnRing() const { return FOnRing; }
  /// Sets OnRing.
  void SetOnRing(const TNotifyEvent& handler);
  /// OnRLSDChange: the receive line signal detect (DCD) line changed.
  TNotifyEvent OnRLSDChange() const { return FOnRLSDChange; }
  /// Sets OnRLSDChange.
  void SetOnRLSDChange(const TNotifyEvent& handler);
  /// OnRx80PercFull: the input queue is 80 percent full.
  TNotifyEvent OnRx80PercFull() const { return FOnRx80PercFull; }
  /// Sets OnRx80PercFull.
  void SetOnRx80PercFull(const TNotifyEvent& handler);
  /// OnRxChar: bytes were received. Bytes a handler reads bring no event of
  /// their own.
  TNotifyEvent OnRxChar() const { return FOnRxChar; }
  /// Sets OnRxChar.
  void SetOnRxChar(const TNotifyEvent& handler);
  /// OnRxFlag: the event character (TCharacters::Event) was received.
  TNotifyEvent OnRxFlag() const { return FOnRxFlag; }
  /// Sets OnRxFlag.
  void SetOnRxFlag(const TNotifyEvent& handler);
  /// OnTxEmpty: the last byte of the output queue was sent.
  TNotifyEvent OnTxEmpty() const { return FOnTxEmpty; }
  /// Sets OnTxEmpty.
  void SetOnTxEmpty(const TNotifyEvent& handler);

  /// The set of the driver's error bits (CE_...) that 'errorWord' holds.
  /// Any thread.
  static TLineErrors GetLineErrors(uint32_t errorWord);
  /// Fetches and clears the driver's line errors and reports a non-empty
  /// set through OnLineError, on the calling thread. Thread: as transfers.
  /// @throws EComError the port is closed, or the driver call fails.
  void CheckLineErrors();
  /// Fetches and clears them without reporting. Thread: as transfers.
  /// @throws EComError the port is closed, or the driver call fails.
  void ClearLineErrors();
  ///@}

  /// @name Line and modem control
  /// Each is one driver call on the open device, through Check; none
  /// changes a stored setting. Thread: as transfers.
  ///
  /// Each raises EComError "Can't perform this operation on a closed port"
  /// first when the port is closed, and EComError with the system's error
  /// when the driver call fails (a pseudo-terminal has no modem lines:
  /// setting DTR or RTS on it fails).
  ///@{

  /// Sends 'ch' ahead of the output still queued.
  void TransmitChar(char ch);
  /// Puts the line into the break state until ClearBreak().
  void SetBreak();
  /// Ends the break state.
  void ClearBreak();
  /// Raises DTR.
  void SetDTR();
  /// Drops DTR.
  void ClearDTR();
  /// Raises RTS.
  void SetRTS();
  /// Drops RTS.
  void ClearRTS();
  /// Transmission goes on as if XON had come.
  void SetXOn();
  /// Transmission stops as if XOFF had come.
  void SetXOff();
  /// The driver's device reset.
  void ResetDevice();
  /// The modem input lines that are on; the empty set at design time. A
  /// pseudo-terminal reports all of them off.
  TModemStatus GetModemStatus();
  /// The same as GetModemStatus().
  TModemStatus ModemStatus() { return GetModemStatus(); }
  /// DeviceName without the device-namespace prefix at its start ("/dev/"
  /// on Linux, "\\.\" on Windows).
  /// Never raises.
  QString ShortDeviceName() const;
  /// What an open of DeviceName opens: a name without a path separator is a
  /// device in the device namespace (\<dev\>/name on Linux, "/dev" unless
  /// SetDeviceRoots changed it; "\\.\" + name on Windows), never a file
  /// in the working folder; any other name is a path as given.
  /// Never raises.
  QString DevicePath() const;
  ///@}

  /// @name Configuration dialogs
  /// Either dialog asked for on another thread shows on the user-interface
  /// thread, the caller waiting for it. Without a widget application no
  /// dialog shows and the result is false. Each raises EComError (through
  /// OnError) with the system's error, before any dialog, when DeviceName
  /// leads to no terminal.
  ///@{

  /// The system's serial configuration dialog on the device's default
  /// configuration with the component's settings put in; confirmed, the
  /// edited values become the settings (applied at once to an open port).
  /// True when the user confirmed.
  bool ConfigDialog();
  /// The same dialog on the device's default configuration alone;
  /// confirmed, the edited configuration is stored as the default (per
  /// device and user). The component is not changed. True when the user
  /// confirmed.
  /// @throws EComError also when the default cannot be stored.
  bool DefaultConfigDialog();
  ///@}

  /// @name Device lists
  /// Each appends to 'list' (nothing is cleared, sorted or merged), in the
  /// order the system gives; a source that cannot be read adds nothing.
  /// They read only the roots (SetDeviceRoots), so they run on any thread,
  /// open or closed, and never raise.
  ///@{

  /// Device nodes.
  void EnumDevices(QStringList& list) const;
  /// Serial ports that are present, links in the device folder included.
  void EnumComDevices(QStringList& list) const;
  /// Ports that drivers registered (no links).
  void EnumComDevicesFromRegistry(QStringList& list) const;
  /// "<description> (<name>)" for each port, e.g. "USB Serial Port
  /// (FT232R USB UART) (ttyUSB0)".
  void EnumComFriendlyNames(QStringList& list) const;
  /// Where the lists, the notices, the device names and the configuration
  /// dialogs look: the system's roots unless replaced (tests point them at
  /// built trees; on Windows the lists and notices read the system's own
  /// sources and pass over both roots). A registration for device notices moves to the
  /// new roots. User-interface thread; never raises.
  void SetDeviceRoots(const QString& sysRoot, const QString& devRoot);
  ///@}

  /// @name Device notices
  /// Device arrival and removal, on the user-interface thread. Setting a
  /// handler with another method than the current one starts the
  /// notification while either handler is set, and stops it once neither is
  /// (nothing at design time; a failed registration leaves the event set
  /// but silent). These setters, StartNotification and StopNotification
  /// work there: called on another thread, they are handed over and waited
  /// for. None raises.
  ///@{

  /// OnDeviceArrival: a USB device or a serial port (a link in the device
  /// folder included) arrived; the name is the port's name or the device's
  /// path.
  TDeviceArrivalEvent OnDeviceArrival() const { return FOnDeviceArrival; }
  /// Sets OnDeviceArrival. Any thread.
  void SetOnDeviceArrival(const TDeviceArrivalEvent& handler);
  /// OnDeviceRemoved: such a device went; the name as for OnDeviceArrival.
  TDeviceRemovedEvent OnDeviceRemoved() const { return FOnDeviceRemoved; }
  /// Sets OnDeviceRemoved. Any thread.
  void SetOnDeviceRemoved(const TDeviceRemovedEvent& handler);
  /// Registers the port for device notices. True when registered (also when
  /// it already was); false without an application object or when no
  /// monitor can be made. Any thread.
  bool StartNotification();
  /// Ends the registration. True when nothing was registered or the system
  /// took the unregistration. Any thread.
  bool StopNotification();

  /// A device-change message as the hook reads it.
  struct TDeviceChangeMessage {
    static constexpr uint32_t DeviceArrival = 0x8000;         ///< A device arrived.
    static constexpr uint32_t DeviceRemoveComplete = 0x8004;  ///< A device is gone.
    static constexpr uint32_t PortType = 3;                   ///< Name is a port name.
    static constexpr uint32_t DeviceInterfaceType = 5;        ///< Name is a device interface path.
    uint32_t EventCode = 0;   ///< DeviceArrival or DeviceRemoveComplete.
    uint32_t DeviceType = 0;  ///< PortType or DeviceInterfaceType.
    QString Name;             ///< The port's name or the device's path.
  };
  /// Fires OnDeviceArrival or OnDeviceRemoved with the message's name for an
  /// arrival or a removal of a port or a device interface; passes over
  /// everything else (and everything while the port is being destroyed).
  /// Always false: the message goes on as usual. User-interface thread;
  /// raises what the handler raises.
  bool WindowHook(const TDeviceChangeMessage& message);
  ///@}

  /// @name Transfers
  /// Any thread, one thread at a time (the user-interface thread, a
  /// line-event handler on the event thread, or a worker thread): the
  /// component takes no lock for them. The handler setters: user-interface
  /// thread.
  ///
  /// Each raises EComError "Can't perform this operation on a closed port"
  /// when the port is closed, EComError with the system's error when the
  /// driver fails, and EComError "Timeout" where it says so; all through
  /// OnError. A failing log entry of an issue raises EInOutError; that of a
  /// completed transfer goes to the application's exception display instead,
  /// the bytes are not lost.
  ///@{

  /// One read of 'length' bytes into 'buffer'. With 'wait' the call returns
  /// once it has ended; without it the call returns once the read is issued
  /// and the buffer must stay untouched until that read has completed. The
  /// call first completes the earlier read. Calls BeforeRead and AfterRead.
  /// A shorter read than requested raises "Timeout" when a completion check
  /// waits for it.
  /// @throws EComError also for a negative length ("Invalid transfer
  ///   length") and a missing buffer with bytes to move (EINVAL), before
  ///   any handler is called.
  void Read(void* buffer, int length, bool wait);
  /// One write of 'length' bytes from 'buffer'. With 'wait' the call
  /// returns once it has ended; without it a write copies the bytes first,
  /// so the caller's buffer is free at once. The call first completes the
  /// earlier write. Calls BeforeWrite and, on success, AfterWrite. A
  /// shorter write than requested raises "Timeout" when a completion check
  /// waits for it.
  /// @throws EComError as Read() does.
  void Write(const void* buffer, int length, bool wait);
  /// Waits for the read issued last, then checks the line errors. Nothing
  /// to wait for when none is pending.
  /// @throws EComError "Timeout" when it moved fewer bytes than asked for.
  void WaitForReadCompletion();
  /// Waits for the write issued last, then checks the line errors.
  /// @throws EComError "Timeout" when it moved fewer bytes than asked for.
  void WaitForWriteCompletion();
  /// True while a read is issued and not yet complete. Never raises.
  bool ReadPending() const;
  /// True while a write is issued and not yet complete. Never raises.
  bool WritePending() const;
  /// True while a Write call is under way on any thread: from before its
  /// BeforeWrite until it raises or reaches AfterWrite (which marks only a
  /// successful end). Any thread; never raises.
  bool Writing() const { return FWritesUnderWay.load(std::memory_order_acquire) > 0; }
  /// Bytes waiting in the driver's input queue; also reports line errors
  /// through OnLineError.
  int InputCount();
  /// Bytes waiting in the driver's output queue; also reports line errors.
  int OutputCount();

  /// BeforeRead: called by a read before it is issued.
  TReadWriteEvent BeforeRead() const { return FBeforeRead; }
  /// Sets BeforeRead.
  void SetBeforeRead(const TReadWriteEvent& handler) { FBeforeRead = handler; }
  /// AfterRead: called by a read once it is issued (and, with wait, ended).
  TReadWriteEvent AfterRead() const { return FAfterRead; }
  /// Sets AfterRead.
  void SetAfterRead(const TReadWriteEvent& handler) { FAfterRead = handler; }
  /// BeforeWrite: called by a write before it is issued.
  TReadWriteEvent BeforeWrite() const { return FBeforeWrite; }
  /// Sets BeforeWrite.
  void SetBeforeWrite(const TReadWriteEvent& handler) { FBeforeWrite = handler; }
  /// AfterWrite: called by a write that ended successfully (issued, and with
  /// wait, complete).
  TReadWriteEvent AfterWrite() const { return FAfterWrite; }
  /// Sets AfterWrite.
  void SetAfterWrite(const TReadWriteEvent& handler) { FAfterWrite = handler; }
  ///@}

  /// @name Typed transfers
  /// Reads wait for their bytes; writes do not wait for theirs. A
  /// fixed-size read, or one up to a terminator, that gets fewer bytes than
  /// it needs raises "Timeout", whichever timeouts are set. Strings are byte
  /// strings, wide strings QString; words and double words travel least
  /// significant byte first; a line ends with CR alone. The "Ansi"
  /// operations and their plain twins are the same. Threads and errors as
  /// for Read() and Write(); a string or byte array longer than the largest
  /// transfer length (INT_MAX) raises EComError.
  ///@{

  /// One byte as a character; raises "Timeout" without one.
  char ReadAnsiChar();
  /// The same as ReadAnsiChar().
  char ReadChar();
  /// One byte; raises "Timeout" without one.
  uint8_t ReadByte();
  /// Two bytes, least significant first; raises "Timeout" without them.
  uint16_t ReadWord();
  /// Four bytes, least significant first; raises "Timeout" without them.
  uint32_t ReadDWord();
  /// Writes one character.
  void WriteAnsiChar(char value);
  /// The same as WriteAnsiChar().
  void WriteChar(char value);
  /// Writes one byte.
  void WriteByte(uint8_t value);
  /// Writes two bytes, least significant first.
  void WriteWord(uint16_t value);
  /// Writes four bytes, least significant first.
  void WriteDWord(uint32_t value);
  /// Whatever is waiting now; empty without waiting when nothing is.
  std::string ReadAnsiString();
  /// The same as ReadAnsiString().
  std::string ReadString();
  /// Whatever is waiting now, as bytes; empty when nothing is.
  TBytes ReadBytes();
  /// Whatever is waiting now, decoded as UTF-8 (DecodeUtf8()).
  QString ReadUtf8();
  /// Writes the string's bytes.
  void WriteAnsiString(const std::string& text);
  /// The same as WriteAnsiString().
  void WriteString(const std::string& text);
  /// Writes the bytes.
  void WriteBytes(const TBytes& bytes);
  /// Writes the text encoded as UTF-8 (EncodeUtf8()).
  void WriteUtf8(const QString& text);
  /// Bytes up to and including 'terminator'.
  std::string ReadAnsiUntil(char terminator);
  /// The same as ReadAnsiUntil().
  std::string ReadUntil(char terminator);
  /// Bytes up to and including 'terminator', as bytes.
  TBytes ReadUntilBytes(uint8_t terminator);
  /// Bytes up to and including 'terminator', decoded as UTF-8.
  QString ReadUntilUtf8(uint8_t terminator);
  /// Bytes up to and including CR.
  std::string ReadAnsiLine();
  /// The same as ReadAnsiLine().
  std::string ReadLine();
  /// Bytes up to and including CR, as bytes.
  TBytes ReadLineBytes();
  /// Bytes up to and including CR, decoded as UTF-8.
  QString ReadLineUtf8();
  /// Writes the text and CR.
  void WriteAnsiLine(const std::string& text);
  /// The same as WriteAnsiLine().
  void WriteLine(const std::string& text);
  /// Writes the bytes and CR.
  void WriteLineBytes(const TBytes& bytes);
  /// Writes the text encoded as UTF-8, and CR.
  void WriteLineUtf8(const QString& text);

  /// The component's UTF-8 rules. Decoding: 1 to 3 byte sequences give one
  /// UTF-16 unit each (a lead byte with bit 0x20 starts 3 bytes, else 2),
  /// a 4-byte sequence (lead 11110xxx) a surrogate pair; malformed input
  /// gives an empty text. Any thread; never raises.
  static QString DecodeUtf8(const std::string& bytes);
  /// Encoding: each UTF-16 unit separately, in 1 to 3 bytes (a surrogate
  /// pair becomes two 3-byte sequences). Any thread; never raises.
  static std::string EncodeUtf8(const QString& text);
  ///@}

  /// A file or device name as the system's calls take it (QFile::encodeName),
  /// with any NUL kept in place, also where the system's encoder would end
  /// the text there: the platform then refuses the name instead of opening
  /// what comes before the NUL. Any thread; never raises.
  static std::string SystemName(const QString& name);

 protected:
  /// @name For derived classes
  /// User-interface thread.
  ///@{

  /// Opens the device and configures it (the work of Open() between its
  /// handlers); releases everything again when it raises.
  /// @throws EComError as Open() does.
  virtual void CreateHandle();
  /// Releases what CreateHandle acquired; never raises.
  void FreeHandle();

  /// Applies the line settings to an open device (nothing when closed).
  /// @throws EComError the device refuses them.
  void SetComDCB();
  /// Applies the queue sizes to an open device (nothing when closed).
  /// @throws EComError the device refuses them.
  void SetComBufferSizes();
  /// Applies the timeouts to an open device (nothing when closed).
  /// @throws EComError the device refuses them.
  void SetComTimeouts();

  /// Sets the device's event mask from the line-event handlers, starting or
  /// stopping the event thread. Nothing when closed.
  /// @throws EComError as a line-event setter does.
  void SetComEventMask();
  /// The event bits of the line-event handlers that are set.
  uint32_t EventHandlerMask() const;
  /// Starts the event thread unless one runs; "Can't create thread" when the
  /// system cannot make one.
  /// @throws EComError "Line events need an application object" or "Can't
  ///   create thread".
  void CreateThread();
  /// Marks the thread terminated, then wakes its wait; never waits for it.
  void DestroyThread();
  /// Dispatches the events of the last completed wait (FEventMask) to the
  /// handlers in the driver's order; an error ends the batch and goes to the
  /// application's exception display.
  void ThreadDoEvent();

  /// True while the port holds a device.
  bool IsOpen() const { return FDeviceHandle != nullptr; }
  ///@}

 private:
  friend class TFlowControl;
  friend class TCharacters;
  friend class TBufferSizes;
  friend class TTimeouts;

  friend class TComThread;

  void Purge(uint32_t flags);
  // One escape function of the driver on the open device.
  void Escape(uint32_t function);
  // Registered for device notices while either device event has a handler
  // (nothing at design time).
  void FollowDeviceHandlers();

  // One wait of the event thread and, when events came, one dispatch. Works
  // only on what the thread owns: the port may be gone meanwhile.
  static void ThreadProc(TComThread& thread);
  // On the user-interface thread, after the event thread's wait failed:
  // drops the thread, reports the error through RaiseThreadError and closes
  // the port when the device is gone. Always raises.
  [[noreturn]] void ThreadWaitFailed(int code);
  // True on an event thread of this port.
  bool OnOwnEventThread() const;
  // ThreadDoEvent's work. With a link (dispatch on the event thread) the
  // batch ends once the port no longer holds that link: a handler closed
  // it, and the port may be freed as soon as that close returned.
  void DispatchEvents(const TComThreadLink* link);
  // On the user-interface thread: events a stopped thread took and could
  // not dispatch; they wait for the handlers set afterwards.
  void HoldEvents(uint32_t events);
  // Hands the held events that a handler is set for to the running thread
  // and ends its wait, so it dispatches them at once.
  void PassHeldEvents();
  template <class E>
  void SetLineEvent(E& field, const E& handler);
  // The notify handler of a line event bit; null for the line-error bit.
  static TNotifyEvent TCustomComPort::*NotifyHandlerOf(uint32_t bit);

  // Read's work. A whole read (the typed reads) raises "Timeout" when it
  // moved fewer bytes than asked for, also when it ended at once (reads
  // that return at once with what is there).
  void IssueRead(void* buffer, int length, bool wait, bool whole);
  void ReadWhole(void* buffer, int length);
  // Refuses a negative length and a missing buffer before anything is done.
  void CheckTransfer(const void* buffer, int length);
  // Completion check of one direction.
  void WaitForCompletion(platform::Overlapped& overlapped, const std::unique_ptr<platform::Event>& event,
                         int32_t& pendingLength, bool whole, const void* buffer, const char* completeText);
  // Forgets the transfers of both directions (the port closed them).
  void ForgetTransfers();
  // Fetches and clears the line errors with the queue counts and reports
  // the errors through OnLineError (the queue counters' common part).
  platform::COMSTAT QueueStatus();

  // Settings.
  QString FDeviceName;
  bool FSynchronizeEvents = true;
  TPriorityClass FPriorityClass = pcDefault;
  TThreadPriority FThreadPriority = tpTimeCritical;
  TBaudRate FBaudRate = brDefault;
  qint32 FCustomBaudRate = 0;
  TDataBits FDataBits = dbDefault;
  TParity FParity = paDefault;
  TStopBits FStopBits = sbDefault;
  TOptions FOptions;
  std::unique_ptr<TFlowControl> FFlowControl;
  std::unique_ptr<TCharacters> FCharacters;
  std::unique_ptr<TBufferSizes> FBufferSizes;
  std::unique_ptr<TTimeouts> FTimeouts;
  QString FLogFile;                   // under FSharedMutex
  std::atomic<bool> FLogging{false};  // FLogFile is not empty
  TDeviceFactory FDeviceFactory;

  // Handlers.
  mutable std::mutex FSharedMutex;  // what the event thread reads and the user may change
  TComErrorEvent FOnError;          // under FSharedMutex
  TOpenCloseEvent FBeforeOpen, FAfterOpen, FBeforeClose, FAfterClose;
  TNotifyEvent FOnBreak, FOnCTSChange, FOnDSRChange, FOnEvent1, FOnEvent2, FOnPrinterError, FOnRing, FOnRLSDChange,
      FOnRx80PercFull, FOnRxChar, FOnRxFlag, FOnTxEmpty;
  TLineErrorEvent FOnLineError;
  TReadWriteEvent FBeforeRead, FAfterRead, FBeforeWrite, FAfterWrite;
  TDeviceArrivalEvent FOnDeviceArrival;
  TDeviceRemovedEvent FOnDeviceRemoved;
  QString FSysRoot = QString::fromLatin1(platform::kDefaultSysRoot);
  QString FDevRoot = QString::fromLatin1(platform::kDefaultDevRoot);

 protected:
  /// The length of a write of 'size' bytes; raises a clear EComError when
  /// it exceeds the largest transfer length (INT_MAX). Thread: as transfers.
  /// @throws EComError the size exceeds INT_MAX.
  int TransferLength(size_t size);

  /// @cond INTERNAL

  // Run-time state of one port. The port is open exactly while
  // FDeviceHandle is set; the three events exist exactly while it is open.
  bool FRecordedActive = false;
  platform::SerialDevicePtr FDeviceHandle;
  std::unique_ptr<platform::Event> FReadEvent;
  std::unique_ptr<platform::Event> FWriteEvent;
  std::unique_ptr<platform::Event> FEventOverlappedEvent;  // the event of FEventOverlapped
  platform::Overlapped FEventOverlapped;
  platform::Overlapped FReadOverlapped;
  platform::Overlapped FWriteOverlapped;
  TComThread* FEventThread = nullptr;  // not owned: it frees itself; reached through FEventLink
  std::shared_ptr<TComThreadLink> FEventLink;
  std::shared_ptr<TComOpenSession> FOpenSession;  // made with the first thread of an open
  uint32_t FHeldEvents = 0;  // taken by a stopped thread, waiting for a handler
  uint32_t FEventMask = 0;
  int32_t FReadLength = 0;
  int32_t FWriteLength = 0;
  bool FReadWhole = false;  // the pending read must move every byte
  void* FReadBuffer = nullptr;
  const void* FWriteBuffer = nullptr;
  // The process's priority to restore at close; empty: nothing was changed.
  std::optional<platform::SavedProcessPriority> FSavedPriorityClass;
  // (ThreadErrorCode, public above, belongs here in order.)
  std::vector<uint8_t> FWriteCopy;
  std::atomic<int> FWritesUnderWay{0};  // Write calls not yet ended (Writing)
  std::shared_ptr<void> FNotifyHandle;  // device notification registration
  /// @endcond
};

/// @cond INTERNAL
// The event thread of an open port with line-event handlers: waits for the
// driver's line events and hands each batch to the port. Frees itself when
// it ends; the port only refers to it.
//
// It owns everything its wait uses (a reference to the device, its own wait
// record, event and event mask), so a port that closes or goes away never
// frees what the thread is blocked in; it reaches the port only through the
// shared link, on the user-interface thread (or, with SynchronizeEvents
// off, on itself while the link still names the port).
class TComThread : public TThread {
 public:
  explicit TComThread(TCustomComPort* comPort);
  ~TComThread() override;

  TCustomComPort* ComPort() const { return FComPort; }

 protected:
  void Execute() override;

 private:
  friend class TCustomComPort;

  // Hands the events of the last wait to the port's handlers: queued to
  // the user-interface thread (the thread goes on to its next wait, which
  // returns no events before this batch has run), or run here.
  void Dispatch();
  // Runs the batch in FBatchMask.
  void DoEventOnPort();
  // The queued batch: DoEventOnPort (and the batches that came meanwhile,
  // a few at most), then the device's events released.
  void RunQueuedBatch();
  // The batch of a thread the port no longer runs: to the port while it
  // stays open, for the handlers set afterwards; dropped otherwise.
  void HandOver();

  TCustomComPort* const FComPort;
  const std::shared_ptr<TComThreadLink> FLink;
  const platform::SerialDevicePtr FDevice;
  const bool FSynchronizeEvents;
  const std::function<void()> FQueuedBatch{[this] { RunQueuedBatch(); }};
  platform::Event FWaitEvent{false, false};  // auto-reset, starts clear
  platform::Overlapped FWaitOverlapped;
  uint32_t FWaitMask = 0;   // the last wait's events
  uint32_t FBatchMask = 0;  // the events of the batch handed on last
  // Set by the port when it stops the thread, before it changes the event
  // mask: a wait that begins afterwards ends at once (the wait record's
  // Abandon flag), so the thread never waits under a later mask.
  std::atomic<bool> FStopped{false};
};
/// @endcond

/// The published component: TCustomComPort with its settings, handlers and
/// ModemStatus published as Qt properties (stored descriptions hold the
/// settings and handlers). Every
/// member, its errors and its threads are those of TCustomComPort.
class TComPort : public TCustomComPort {
  Q_OBJECT
  Q_PROPERTY(QString About READ About WRITE SetAbout STORED false)
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(QString DeviceName READ DeviceName WRITE SetDeviceName)
  Q_PROPERTY(ComPortTypes::TBaudRate BaudRate READ BaudRate WRITE SetBaudRate)
  Q_PROPERTY(qint32 CustomBaudRate READ CustomBaudRate WRITE SetCustomBaudRate)
  Q_PROPERTY(ComPortTypes::TDataBits DataBits READ DataBits WRITE SetDataBits)
  Q_PROPERTY(ComPortTypes::TParity Parity READ Parity WRITE SetParity)
  Q_PROPERTY(ComPortTypes::TStopBits StopBits READ StopBits WRITE SetStopBits)
  Q_PROPERTY(ComPortTypes::TOptions Options READ Options WRITE SetOptions)
  Q_PROPERTY(TFlowControl* FlowControl READ FlowControl)
  Q_PROPERTY(TCharacters* Characters READ Characters)
  Q_PROPERTY(TBufferSizes* BufferSizes READ BufferSizes)
  Q_PROPERTY(TTimeouts* Timeouts READ Timeouts)
  Q_PROPERTY(ComPortTypes::TPriorityClass PriorityClass READ PriorityClass WRITE SetPriorityClass)
  Q_PROPERTY(bool SynchronizeEvents READ SynchronizeEvents WRITE SetSynchronizeEvents)
  Q_PROPERTY(Classes::TThreadPriority ThreadPriority READ ThreadPriority WRITE SetThreadPriority)
  Q_PROPERTY(QString LogFile READ LogFile WRITE SetLogFile)
  Q_PROPERTY(TComErrorEvent OnError READ OnError WRITE SetOnError)
  Q_PROPERTY(TOpenCloseEvent BeforeOpen READ BeforeOpen WRITE SetBeforeOpen)
  Q_PROPERTY(TOpenCloseEvent AfterOpen READ AfterOpen WRITE SetAfterOpen)
  Q_PROPERTY(TOpenCloseEvent BeforeClose READ BeforeClose WRITE SetBeforeClose)
  Q_PROPERTY(TOpenCloseEvent AfterClose READ AfterClose WRITE SetAfterClose)
  Q_PROPERTY(TNotifyEvent OnBreak READ OnBreak WRITE SetOnBreak)
  Q_PROPERTY(TNotifyEvent OnCTSChange READ OnCTSChange WRITE SetOnCTSChange)
  Q_PROPERTY(TNotifyEvent OnDSRChange READ OnDSRChange WRITE SetOnDSRChange)
  Q_PROPERTY(TNotifyEvent OnEvent1 READ OnEvent1 WRITE SetOnEvent1)
  Q_PROPERTY(TNotifyEvent OnEvent2 READ OnEvent2 WRITE SetOnEvent2)
  Q_PROPERTY(TLineErrorEvent OnLineError READ OnLineError WRITE SetOnLineError)
  Q_PROPERTY(TNotifyEvent OnPrinterError READ OnPrinterError WRITE SetOnPrinterError)
  Q_PROPERTY(TNotifyEvent OnRing READ OnRing WRITE SetOnRing)
  Q_PROPERTY(TNotifyEvent OnRLSDChange READ OnRLSDChange WRITE SetOnRLSDChange)
  Q_PROPERTY(TNotifyEvent OnRx80PercFull READ OnRx80PercFull WRITE SetOnRx80PercFull)
  Q_PROPERTY(TNotifyEvent OnRxChar READ OnRxChar WRITE SetOnRxChar)
  Q_PROPERTY(TNotifyEvent OnRxFlag READ OnRxFlag WRITE SetOnRxFlag)
  Q_PROPERTY(TNotifyEvent OnTxEmpty READ OnTxEmpty WRITE SetOnTxEmpty)
  Q_PROPERTY(TReadWriteEvent BeforeRead READ BeforeRead WRITE SetBeforeRead)
  Q_PROPERTY(TReadWriteEvent AfterRead READ AfterRead WRITE SetAfterRead)
  Q_PROPERTY(TReadWriteEvent BeforeWrite READ BeforeWrite WRITE SetBeforeWrite)
  Q_PROPERTY(TReadWriteEvent AfterWrite READ AfterWrite WRITE SetAfterWrite)
  Q_PROPERTY(ComPortTypes::TModemStatus ModemStatus READ ModemStatus STORED false)
  Q_PROPERTY(TDeviceArrivalEvent OnDeviceArrival READ OnDeviceArrival WRITE SetOnDeviceArrival)
  Q_PROPERTY(TDeviceRemovedEvent OnDeviceRemoved READ OnDeviceRemoved WRITE SetOnDeviceRemoved)
  Q_CLASSINFO("Stored:CustomBaudRate", "StoreCustomBaudRate")
  Q_CLASSINFO("Default:BaudRate", "brDefault")
  Q_CLASSINFO("Default:DataBits", "dbDefault")
  Q_CLASSINFO("Default:Parity", "paDefault")
  Q_CLASSINFO("Default:StopBits", "sbDefault")
  Q_CLASSINFO("Default:PriorityClass", "pcDefault")
  Q_CLASSINFO("Default:SynchronizeEvents", "True")
  Q_CLASSINFO("Default:ThreadPriority", "tpTimeCritical")
  Q_CLASSINFO("Default:LogFile", "''")

 public:
  /// A closed port with every setting at its default (see
  /// TCustomComPort::TCustomComPort).
  using TCustomComPort::TCustomComPort;
};
