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
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/Exception.h"
#include "framework/MethodTable.h"
#include "framework/Persistent.h"
#include "framework/Thread.h"
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

}  // namespace ComPortTypes

Q_DECLARE_OPERATORS_FOR_FLAGS(ComPortTypes::TOptions)

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
DECLARE_EVENT_TYPE(TComErrorEvent)
DECLARE_EVENT_TYPE(TOpenCloseEvent)

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

  void CheckActive();    // "Can't perform this operation on a closed port"
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

  bool Log() const { return !FLogFile.isEmpty(); }
  // Appends one time-stamped line (with an optional "$41, $54" dump) when
  // logging is on. A file that cannot be written raises EInOutError.
  void WriteLog(const QString& text, const void* data = nullptr, int count = 0);
  // The entry's stamp: short date and long time of the system locale, the
  // time left out at midnight.
  static QString LogTimeStamp(const QDateTime& when);

  QString LogFile() const { return FLogFile; }
  void SetLogFile(const QString& value) { FLogFile = value; }
  TComErrorEvent OnError() const { return FOnError; }
  void SetOnError(const TComErrorEvent& handler) { FOnError = handler; }

  // Platform error code of the event thread's last failed wait.
  int ThreadErrorCode = 0;

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
  void DestroyThread();

  bool IsOpen() const { return FDeviceHandle != nullptr; }

 private:
  friend class TFlowControl;
  friend class TCharacters;
  friend class TBufferSizes;
  friend class TTimeouts;

  void Purge(uint32_t flags);

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
  QString FLogFile;
  TDeviceFactory FDeviceFactory;

  // Handlers.
  TComErrorEvent FOnError;
  TOpenCloseEvent FBeforeOpen, FAfterOpen, FBeforeClose, FAfterClose;

 protected:
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
  TComThread* FEventThread = nullptr;  // not owned: it frees itself
  uint32_t FEventMask = 0;
  uint32_t FReadLength = 0;
  uint32_t FWriteLength = 0;
  void* FReadBuffer = nullptr;
  const void* FWriteBuffer = nullptr;
  int32_t FSavedPriorityClass = -1;  // -1: nothing saved
  // (ThreadErrorCode, public above, belongs here in order.)
  std::vector<uint8_t> FWriteCopy;
  std::shared_ptr<void> FNotifyHandle;  // device notification registration
};

// The event thread of an open port with line-event handlers: waits for the
// driver's line events and hands each batch to the port. Frees itself when
// it ends; the port only refers to it.
class TComThread : public TThread {
 public:
  explicit TComThread(TCustomComPort* comPort);

 protected:
  void Execute() override;

 private:
  TCustomComPort* const FComPort;
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
