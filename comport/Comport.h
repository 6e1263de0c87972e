// The serial port component: TCustomComPort (the behaviour) and TComPort
// (publishes it), its exception EComError, the four settings groups and the
// setting enumerations.
//
// One component owns one serial device while it is open. Settings are
// stored first and applied to an open device at once (closed ports apply
// everything at the next open); a "...Default" member leaves the driver's
// current value alone. Every failure leaves the component as EComError,
// offered to OnError first, which may turn it into the silent EAbort.
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
#include "platform/ProcessPriority.h"
#include "platform/SerialDevice.h"

// ---------------------------------------------------------------------------
// Setting enumerations. Registered with Qt so that stored descriptions name
// the members (br115200, paNone, ...). Ordinals start at 0 in this order.
namespace ComPortTypes {
Q_NAMESPACE

enum TBaudRate {
  brDefault,
  br50,
  br75,
  br110,
  br150,
  br300,
  br600,
  br1200,
  br1800,
  br2000,
  br2400,
  br3600,
  br4800,
  br7200,
  br9600,
  br10400,
  br14400,
  br15625,
  br19200,
  br28800,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
  brCustom
};
Q_ENUM_NS(TBaudRate)

enum TDataBits { dbDefault, db4, db5, db6, db7, db8, db9 };
Q_ENUM_NS(TDataBits)

enum TParity { paDefault, paNone, paOdd, paEven, paMark, paSpace };
Q_ENUM_NS(TParity)

enum TStopBits { sbDefault, sb1, sb1_5, sb2 };
Q_ENUM_NS(TStopBits)

// One bit per option; the bit number is the option's ordinal.
enum TOption {
  opCheckParity = 0x01,
  opOutputCTSFlow = 0x02,
  opOutputDSRFlow = 0x04,
  opDSRSensitivity = 0x08,
  opTXContinueOnXOff = 0x10,
  opUseErrorChar = 0x20,
  opDiscardNullBytes = 0x40,
  opAbortOnError = 0x80
};
Q_DECLARE_FLAGS(TOptions, TOption)
Q_FLAG_NS(TOptions)

enum TDTRControl { dcDefault, dcDisable, dcEnable, dcHandshake };
Q_ENUM_NS(TDTRControl)

enum TRTSControl { rcDefault, rcDisable, rcEnable, rcHandshake, rcToggle };
Q_ENUM_NS(TRTSControl)

enum TXOnXOffControl { xcDefault, xcDisable, xcInput, xcOutput, xcInputOutput };
Q_ENUM_NS(TXOnXOffControl)

enum TPriorityClass { pcDefault, pcIdle, pcNormal, pcHigh, pcRealTime };
Q_ENUM_NS(TPriorityClass)

// The decision of an OnError handler.
enum TComAction { caFail, caAbort };
Q_ENUM_NS(TComAction)

// Line errors reported by the driver. TLineErrors is a 16-bit set: the
// member of ordinal i is bit i.
enum TLineError {
  leBreak = 0x0001,
  leDeviceNotSelected = 0x0002,
  leFrame = 0x0004,
  leIO = 0x0008,
  leMode = 0x0010,
  leOutOfPaper = 0x0020,
  leOverrun = 0x0040,
  leDeviceTimeOut = 0x0080,
  leRxOverflow = 0x0100,
  leParity = 0x0200,
  leTxFull = 0x0400
};
Q_DECLARE_FLAGS(TLineErrors, TLineError)
Q_FLAG_NS(TLineErrors)

// The modem input lines. TModemStatus is a set: the member of ordinal i is
// bit i.
enum TModemStatusValue { msCTS = 0x01, msDSR = 0x02, msRing = 0x04, msRLSD = 0x08 };
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
// The component's one exception type: a message and the platform's error
// code (0 for the component's own conditions).
class EComError : public Exception {
 public:
  EComError(int code, const std::string& message) : Exception(message), ComErrorCode(code) {}
  int ComErrorCode;
};

class TCustomComPort;
class TComThread;

using TComErrorEvent = TEvent<void(TCustomComPort* ComPort, EComError& E, TComAction& Action)>;
using TOpenCloseEvent = TEvent<void(TCustomComPort* ComPort)>;
using TLineErrorEvent = TEvent<void(TObject* Sender, TLineErrors LineErrors)>;
// Buffer is the address the caller passed (for a non-waiting write the
// caller's buffer, never the component's copy).
using TReadWriteEvent = TEvent<void(TObject* Sender, const void* Buffer, int Length, bool WaitOnCompletion)>;
DECLARE_EVENT_TYPE(TComErrorEvent)
DECLARE_EVENT_TYPE(TOpenCloseEvent)
DECLARE_EVENT_TYPE(TLineErrorEvent)
DECLARE_EVENT_TYPE(TReadWriteEvent)
// A device arrived or was removed: a port name for ports, the device path
// for other devices. Both events have this one type.
using TDeviceArrivalEvent = TEvent<void(TObject* Sender, const QString& DeviceName)>;
using TDeviceRemovedEvent = TDeviceArrivalEvent;
DECLARE_EVENT_TYPE(TDeviceArrivalEvent)

// The component's growable byte array.
using TBytes = std::vector<uint8_t>;

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

// ---------------------------------------------------------------------------
// Settings groups. Each belongs to one port for its whole life and applies
// a changed value through that port. A setter given the current value does
// nothing.

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
  explicit TFlowControl(TCustomComPort* comPort);

  TDTRControl DTR() const { return FDTR; }
  TRTSControl RTS() const { return FRTS; }
  TXOnXOffControl XOnXOff() const { return FXOnXOff; }
  quint16 XOnLimit() const { return FXOnLimit; }
  quint16 XOffLimit() const { return FXOffLimit; }

  void SetDTRControl(TDTRControl value);
  void SetRTSControl(TRTSControl value);
  void SetXOnXOffControl(TXOnXOffControl value);
  void SetXOnLimit(quint16 value);
  void SetXOffLimit(quint16 value);

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

// The five special characters, as 8-bit codes.
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
  explicit TCharacters(TCustomComPort* comPort);

  quint8 XOn() const { return FXOn; }
  quint8 XOff() const { return FXOff; }
  quint8 Error() const { return FError; }
  quint8 Eof() const { return FEof; }
  quint8 Event() const { return FEvent; }

  void SetXOn(quint8 value);
  void SetXOff(quint8 value);
  void SetError(quint8 value);
  void SetEof(quint8 value);
  void SetEvent(quint8 value);

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

// Recommended sizes of the driver's receive and transmit queues, in bytes.
class TBufferSizes : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(qint32 Input READ Input WRITE SetInput)
  Q_PROPERTY(qint32 Output READ Output WRITE SetOutput)
  Q_CLASSINFO("Default:Input", "4096")
  Q_CLASSINFO("Default:Output", "2048")

 public:
  explicit TBufferSizes(TCustomComPort* comPort);

  qint32 Input() const { return FInput; }
  qint32 Output() const { return FOutput; }
  void SetInput(qint32 value);
  void SetOutput(qint32 value);

  TCustomComPort* ComPort() const { return FComPort; }

 private:
  void Change(qint32& field, qint32 value);
  TCustomComPort* const FComPort;
  qint32 FInput = 4096;
  qint32 FOutput = 2048;
};

// Driver timeouts in milliseconds, handed to the driver unchanged (0 means
// no limit of that kind).
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
  explicit TTimeouts(TCustomComPort* comPort);

  qint32 ReadInterval() const { return FReadInterval; }
  qint32 ReadMultiplier() const { return FReadMultiplier; }
  qint32 ReadConstant() const { return FReadConstant; }
  qint32 WriteMultiplier() const { return FWriteMultiplier; }
  qint32 WriteConstant() const { return FWriteConstant; }

  void SetReadInterval(qint32 value);
  void SetReadMultiplier(qint32 value);
  void SetReadConstant(qint32 value);
  void SetWriteMultiplier(qint32 value);
  void SetWriteConstant(qint32 value);

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
// The component.
class TCustomComPort : public TComponent {
  Q_OBJECT

 public:
  // Opens a device by name; null with the thread's last error set on failure.
  using TDeviceFactory = std::function<platform::SerialDevicePtr(const std::string& name)>;

  explicit TCustomComPort(QObject* owner = nullptr);
  ~TCustomComPort() override;

  // ---- lifecycle ---------------------------------------------------------
  QString About() const;
  void SetAbout(const QString&) {}

  bool Active() const;  // design time: the recorded value
  void SetActive(bool value);
  void Loaded() override;

  void Open();
  void Close();

  void CheckActive();    // "Can't perform this operation on a closed port" without a device
  void CheckInactive();  // "Can't perform this operation on an open port"

  QString DeviceName() const { return FDeviceName; }
  void SetDeviceName(const QString& value);
  bool SynchronizeEvents() const { return FSynchronizeEvents; }
  void SetSynchronizeEvents(bool value);
  TPriorityClass PriorityClass() const { return FPriorityClass; }
  void SetPriorityClass(TPriorityClass value);
  // Priority of the event thread; a change reaches a running thread at once.
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority value);

  // How the device is opened; platform::OpenSerialDevice unless replaced
  // (tests put a device double here). Applies from the next open.
  void SetDeviceFactory(TDeviceFactory factory);

  // Queue operations; each does nothing on a closed port.
  void PurgeInput();   // abort pending reads, drop received data
  void PurgeOutput();  // abort pending writes, drop unsent data
  void ClearInput();
  void ClearOutput();
  void AbortInput();
  void AbortOutput();
  void Flush();  // returns once all buffered output has been sent

  TOpenCloseEvent BeforeOpen() const { return FBeforeOpen; }
  void SetBeforeOpen(const TOpenCloseEvent& handler) { FBeforeOpen = handler; }
  TOpenCloseEvent AfterOpen() const { return FAfterOpen; }
  void SetAfterOpen(const TOpenCloseEvent& handler) { FAfterOpen = handler; }
  TOpenCloseEvent BeforeClose() const { return FBeforeClose; }
  void SetBeforeClose(const TOpenCloseEvent& handler) { FBeforeClose = handler; }
  TOpenCloseEvent AfterClose() const { return FAfterClose; }
  void SetAfterClose(const TOpenCloseEvent& handler) { FAfterClose = handler; }

  // ---- settings ----------------------------------------------------------
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate value);
  // The stored custom rate under brCustom, else the rate BaudRate selects.
  qint32 CustomBaudRate() const;
  void SetCustomBaudRate(qint32 value);
  Q_INVOKABLE bool StoreCustomBaudRate() const { return FBaudRate == brCustom; }
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits value);
  TParity Parity() const { return FParity; }
  void SetParity(TParity value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits value);
  TOptions Options() const { return FOptions; }
  void SetOptions(TOptions value);

  TFlowControl* FlowControl() const { return FFlowControl.get(); }
  TCharacters* Characters() const { return FCharacters.get(); }
  TBufferSizes* BufferSizes() const { return FBufferSizes.get(); }
  TTimeouts* Timeouts() const { return FTimeouts.get(); }
  // Copy the source's values into the port's own group (never taking the
  // source); each changed value applies at once to an open port.
  void SetFlowControl(const TFlowControl* source);
  void SetCharacters(const TCharacters* source);
  void SetBufferSizes(const TBufferSizes* source);
  void SetTimeouts(const TTimeouts* source);

  // toDcb true: settings into the block (which holds the driver's values);
  // false: the block back into the settings (without applying them, except
  // through the setters of the rate, the characters and the limits).
  void CopyDCB(platform::DCB& dcb, bool toDcb);

  // ---- errors and log ----------------------------------------------------
  [[noreturn]] void RaiseError(int code, const std::string& message);
  // Raises the thread's last platform error unless 'ok' (or the code is 0
  // or the "queued" code).
  void Check(bool ok);
  [[noreturn]] void RaiseThreadError();

  // Read by the event thread as well: a flag, so nothing is locked while
  // nothing is logged.
  bool Log() const { return FLogging.load(std::memory_order_acquire); }
  // Appends one time-stamped line (with an optional "$41, $54" dump) when
  // logging is on. A file that cannot be written raises EInOutError.
  void WriteLog(const QString& text, const void* data = nullptr, int count = 0);
  // The entry's stamp: short date and long time of the system locale, the
  // time left out at midnight.
  static QString LogTimeStamp(const QDateTime& when);

  // Both may change while the event thread reads them (with
  // SynchronizeEvents off); each read takes a copy.
  QString LogFile() const;
  void SetLogFile(const QString& value);
  TComErrorEvent OnError() const;
  void SetOnError(const TComErrorEvent& handler);

  // Platform error code of the event thread's last failed wait.
  int ThreadErrorCode = 0;

  // ---- line events -------------------------------------------------------
  // A setter given a handler with the same method as the current one does
  // nothing (the bound object is not compared); otherwise it stores the
  // handler and applies the event mask to an open port, starting or
  // stopping the event thread.
  TNotifyEvent OnBreak() const { return FOnBreak; }
  void SetOnBreak(const TNotifyEvent& handler);
  TNotifyEvent OnCTSChange() const { return FOnCTSChange; }
  void SetOnCTSChange(const TNotifyEvent& handler);
  TNotifyEvent OnDSRChange() const { return FOnDSRChange; }
  void SetOnDSRChange(const TNotifyEvent& handler);
  TLineErrorEvent OnLineError() const { return FOnLineError; }
  void SetOnLineError(const TLineErrorEvent& handler);
  TNotifyEvent OnEvent1() const { return FOnEvent1; }
  void SetOnEvent1(const TNotifyEvent& handler);
  TNotifyEvent OnEvent2() const { return FOnEvent2; }
  void SetOnEvent2(const TNotifyEvent& handler);
  TNotifyEvent OnPrinterError() const { return FOnPrinterError; }
  void SetOnPrinterError(const TNotifyEvent& handler);
  TNotifyEvent OnRing() const { return FOnRing; }
  void SetOnRing(const TNotifyEvent& handler);
  TNotifyEvent OnRLSDChange() const { return FOnRLSDChange; }
  void SetOnRLSDChange(const TNotifyEvent& handler);
  TNotifyEvent OnRx80PercFull() const { return FOnRx80PercFull; }
  void SetOnRx80PercFull(const TNotifyEvent& handler);
  TNotifyEvent OnRxChar() const { return FOnRxChar; }
  void SetOnRxChar(const TNotifyEvent& handler);
  TNotifyEvent OnRxFlag() const { return FOnRxFlag; }
  void SetOnRxFlag(const TNotifyEvent& handler);
  TNotifyEvent OnTxEmpty() const { return FOnTxEmpty; }
  void SetOnTxEmpty(const TNotifyEvent& handler);

  // The set of the driver's error bits (CE_...) that 'errorWord' holds.
  static TLineErrors GetLineErrors(uint32_t errorWord);
  // Fetches and clears the driver's line errors and reports a non-empty
  // set through OnLineError, on the calling thread.
  void CheckLineErrors();
  // Fetches and clears them without reporting.
  void ClearLineErrors();

  // ---- line and modem control (ComportControl.cpp) -----------------------
  // Each is one driver call on the open device, through Check; none
  // changes a stored setting. A closed port raises "Can't perform this
  // operation on a closed port" first.
  void TransmitChar(char ch);  // sent ahead of the output still queued
  void SetBreak();
  void ClearBreak();
  void SetDTR();
  void ClearDTR();
  void SetRTS();
  void ClearRTS();
  void SetXOn();   // transmission goes on as if XON had come
  void SetXOff();  // transmission stops as if XOFF had come
  void ResetDevice();
  // The modem input lines that are on; the empty set at design time.
  TModemStatus GetModemStatus();
  TModemStatus ModemStatus() { return GetModemStatus(); }
  // DeviceName without the device-namespace prefix "/dev/" at its start.
  QString ShortDeviceName() const;
  // What an open of DeviceName opens: a name without a '/' is a node in the
  // device folder (<dev>/name, "/dev" unless SetDeviceRoots changed it),
  // never a file in the working folder; any other name is a path as given.
  QString DevicePath() const;

  // ---- configuration dialogs (ComportConfigDialog.cpp) -------------------
  // The system's serial configuration dialog on the device's default
  // configuration with the component's settings put in; confirmed, the
  // edited values become the settings (applied at once to an open port).
  // True when the user confirmed.
  bool ConfigDialog();
  // The same dialog on the device's default configuration alone;
  // confirmed, the edited configuration is stored as the default. The
  // component is not changed. Either dialog asked for on another thread
  // shows on the user-interface thread, the caller waiting for it.
  bool DefaultConfigDialog();

  // ---- device lists (ComportDeviceLists.cpp) and notices (ComportDeviceNotices.cpp)
  // Each appends to 'list' (nothing is cleared, sorted or merged), in the
  // order the system gives; a source that cannot be read adds nothing.
  void EnumDevices(QStringList& list) const;                 // device nodes
  void EnumComDevices(QStringList& list) const;              // serial ports, links included
  void EnumComDevicesFromRegistry(QStringList& list) const;  // ports drivers registered
  void EnumComFriendlyNames(QStringList& list) const;        // "<description> (<name>)"
  // Where the lists, the notices and the configuration dialogs look: the
  // system's /sys and /dev unless replaced (tests point them at built trees).
  void SetDeviceRoots(const QString& sysRoot, const QString& devRoot);

  // Device arrival and removal, on the user-interface thread. Setting a
  // handler with another method than the current one starts the
  // notification while either handler is set, and stops it once neither is.
  // These setters, StartNotification and StopNotification work there:
  // called on another thread, they are handed over and waited for.
  TDeviceArrivalEvent OnDeviceArrival() const { return FOnDeviceArrival; }
  void SetOnDeviceArrival(const TDeviceArrivalEvent& handler);
  TDeviceRemovedEvent OnDeviceRemoved() const { return FOnDeviceRemoved; }
  void SetOnDeviceRemoved(const TDeviceRemovedEvent& handler);
  // True when registered (also when it already was).
  bool StartNotification();
  // True when nothing was registered or the system took the unregistration.
  bool StopNotification();

  // A device-change message as the hook reads it.
  struct TDeviceChangeMessage {
    static constexpr uint32_t DeviceArrival = 0x8000;         // a device arrived
    static constexpr uint32_t DeviceRemoveComplete = 0x8004;  // a device is gone
    static constexpr uint32_t PortType = 3;                   // Name is a port name
    static constexpr uint32_t DeviceInterfaceType = 5;        // Name is a device interface path
    uint32_t EventCode = 0;
    uint32_t DeviceType = 0;
    QString Name;
  };
  // Fires OnDeviceArrival or OnDeviceRemoved with the message's name for an
  // arrival or a removal of a port or a device interface; passes over
  // everything else. Always false: the message goes on as usual.
  bool WindowHook(const TDeviceChangeMessage& message);

  // ---- data transfer -----------------------------------------------------
  // One transfer of 'length' bytes. With 'wait' the call returns once it
  // has ended; without it a read returns once issued (the buffer must stay
  // untouched until that read has completed) and a write copies the bytes
  // first, so the caller's buffer is free at once. Each call first
  // completes the earlier transfer of its direction. A shorter transfer
  // than requested raises "Timeout" when a completion check waits for it.
  void Read(void* buffer, int length, bool wait);
  void Write(const void* buffer, int length, bool wait);
  void WaitForReadCompletion();
  void WaitForWriteCompletion();
  bool ReadPending() const;
  bool WritePending() const;
  // True while a Write call is under way on any thread: from before its
  // BeforeWrite until it raises or reaches AfterWrite (which marks only a
  // successful end).
  bool Writing() const { return FWritesUnderWay.load(std::memory_order_acquire) > 0; }
  // Bytes waiting in the driver's queues; both also report line errors.
  int InputCount();
  int OutputCount();

  TReadWriteEvent BeforeRead() const { return FBeforeRead; }
  void SetBeforeRead(const TReadWriteEvent& handler) { FBeforeRead = handler; }
  TReadWriteEvent AfterRead() const { return FAfterRead; }
  void SetAfterRead(const TReadWriteEvent& handler) { FAfterRead = handler; }
  TReadWriteEvent BeforeWrite() const { return FBeforeWrite; }
  void SetBeforeWrite(const TReadWriteEvent& handler) { FBeforeWrite = handler; }
  TReadWriteEvent AfterWrite() const { return FAfterWrite; }
  void SetAfterWrite(const TReadWriteEvent& handler) { FAfterWrite = handler; }

  // Typed transfers. Reads wait for their bytes; writes do not wait for
  // theirs. A fixed-size read, or one up to a terminator, that gets fewer
  // bytes than it needs raises "Timeout", whichever timeouts are set.
  // Strings are byte strings, wide strings QString; words and double words
  // travel least significant byte first; a line ends with CR alone. The
  // "Ansi" operations and their plain twins are the same.
  char ReadAnsiChar();
  char ReadChar();
  uint8_t ReadByte();
  uint16_t ReadWord();
  uint32_t ReadDWord();
  void WriteAnsiChar(char value);
  void WriteChar(char value);
  void WriteByte(uint8_t value);
  void WriteWord(uint16_t value);
  void WriteDWord(uint32_t value);
  // Whatever is waiting now; empty without waiting when nothing is.
  std::string ReadAnsiString();
  std::string ReadString();
  TBytes ReadBytes();
  QString ReadUtf8();
  void WriteAnsiString(const std::string& text);
  void WriteString(const std::string& text);
  void WriteBytes(const TBytes& bytes);
  void WriteUtf8(const QString& text);
  // Bytes up to and including 'terminator'.
  std::string ReadAnsiUntil(char terminator);
  std::string ReadUntil(char terminator);
  TBytes ReadUntilBytes(uint8_t terminator);
  QString ReadUntilUtf8(uint8_t terminator);
  std::string ReadAnsiLine();
  std::string ReadLine();
  TBytes ReadLineBytes();
  QString ReadLineUtf8();
  void WriteAnsiLine(const std::string& text);
  void WriteLine(const std::string& text);
  void WriteLineBytes(const TBytes& bytes);
  void WriteLineUtf8(const QString& text);

  // The component's UTF-8 rules. Decoding: 1 to 3 byte sequences give one
  // UTF-16 unit each (a lead byte with bit 0x20 starts 3 bytes, else 2),
  // a 4-byte sequence (lead 11110xxx) a surrogate pair; malformed input
  // gives an empty text. Encoding: each UTF-16 unit separately, in 1 to 3
  // bytes (a surrogate pair becomes two 3-byte sequences).
  static QString DecodeUtf8(const std::string& bytes);
  static std::string EncodeUtf8(const QString& text);

 protected:
  virtual void CreateHandle();  // opens the device and configures it
  void FreeHandle();            // releases what CreateHandle acquired; never raises

  void SetComDCB();
  void SetComBufferSizes();
  void SetComTimeouts();

  // Sets the device's event mask from the line-event handlers, starting or
  // stopping the event thread.
  void SetComEventMask();
  // The event bits of the line-event handlers that are set.
  uint32_t EventHandlerMask() const;
  // Starts the event thread unless one runs; "Can't create thread" when the
  // system cannot make one.
  void CreateThread();
  // Marks the thread terminated, then wakes its wait; never waits for it.
  void DestroyThread();
  // Dispatches the events of the last completed wait (FEventMask) to the
  // handlers in the driver's order; an error ends the batch and goes to the
  // application's exception display.
  void ThreadDoEvent();

  bool IsOpen() const { return FDeviceHandle != nullptr; }

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
  QString FSysRoot = QStringLiteral("/sys");
  QString FDevRoot = QStringLiteral("/dev");

 protected:
  // The length of a write of 'size' bytes; raises a clear EComError when
  // it exceeds the largest transfer length (INT_MAX).
  int TransferLength(size_t size);

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
};

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

// The published component.
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
  using TCustomComPort::TCustomComPort;
};
