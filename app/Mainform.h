// The level tool's main window: product picture, port list, Open and Close,
// the three gain spinners, Write and Exit.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "app/GatewayProtocol.h"
#include "app/RxLineBuffer.h"
#include "framework/Event.h"
#include "framework/Timer.h"
#include "ui_Mainform.h"

class QCloseEvent;
class QShowEvent;
class TComPort;
class TComSignal;
class TCustomComPort;

// The window's controls are public fields (from the window design), like
// its non-visual components, so that handlers and tests reach them by name.
class TMajorForm : public QWidget, public Ui::TMajorForm {
  Q_OBJECT

 public:
  // Builds the window from its design, creates its components, connects
  // the handlers and runs FormCreate. Exceptions raised there propagate.
  explicit TMajorForm(QWidget* parent = nullptr);
  ~TMajorForm() override;

  // Non-visual components, owned by the window.
  TComSignal* ComSignal1 = nullptr;
  TComPort* ComPort1 = nullptr;
  TTimer* UartRespTimeoutTimer = nullptr;
  TTimer* ShowPromptTimer = nullptr;
  TTimer* AutoCloseMsgBoxTimer = nullptr;

  // Event handlers, named after component and event.
  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void OpenComPortButtonClick(TObject* Sender);
  void CloseComPortButtonClick(TObject* Sender);
  void ExitButtonClick(TObject* Sender);
  void WriteButtonClick(TObject* Sender);
  void GWReceiveInputGainUpDownChanging(TObject* Sender, bool& AllowChange);
  void GWTransmitOutputGainUpDownChanging(TObject* Sender, bool& AllowChange);
  void GWTalkAroundOutputGainUpDownChanging(TObject* Sender, bool& AllowChange);
  void ComPort1RxChar(TObject* Sender);
  // The component closed the port by itself (the line hung up): followed as
  // a removal of the port in use. The port is released and the list
  // refilled; a pending exchange goes on, and its time-out still comes.
  void ComPort1AfterClose(TCustomComPort* Sender);
  void UartRespTimeoutTimerTimer(TObject* Sender);
  void ShowPromptTimerTimer(TObject* Sender);
  void AutoCloseMsgBoxTimerTimer(TObject* Sender);

  // A device arrived or was removed (the device-change message's event
  // code: TCustomComPort::TDeviceChangeMessage::DeviceArrival or
  // DeviceRemoveComplete; other codes change nothing). While no port is in
  // use an arrival refills the list and preselects the first "USB" port. A
  // removal rescans the ports; an open port that is no longer among them is
  // released; then, while no port is in use, the list is refilled.
  void DeviceChange(std::uint32_t eventCode);

  // Enables the controls that need an open port when ComPortOpened is set,
  // and those that choose a port when it is clear.
  void UpdateControlStates();

  // Opens ComPort1 at 115200 baud, 8 data bits, no parity, 1 stop bit under
  // 'name' as given, else as "<dev>/" + name, where <dev> is the device
  // folder the list is read from ("/dev"), in which the port also opens a
  // bare name; after both fail it waits 1000 ms (blocking) and tries once
  // more. After two failed passes it shows the open-failure box. True when
  // the port is open; its name is then the port in use (InUsePortName).
  // Bytes received before are dropped.
  bool OpenComPort(const std::string& name);
  // Marks the port closed and closes ComPort1 (its errors ignored).
  void CloseComPort();
  // CloseComPort, and the port is no longer in use.
  void ReleaseComPort();

  // Sends the command of CommandState and arms the response timer (a
  // running timer keeps its deadline).
  void SendGatewayCommand();
  // Makes 'code' the exchange pending and sends its command.
  void StartExchange(std::uint32_t code);
  // Interprets one received line (the exchange state machine).
  void HandleReplyLine(const std::string& line);

  // Exchange state: the code of the exchange pending, or CmdIdle.
  std::uint32_t ExchangeState() const { return CommandState; }
  // True while the port is open as far as the window knows.
  bool PortOpened() const { return ComPortOpened; }
  bool PortInUse() const { return ComPortInUse != 0; }

  // Shows the note "Write successfully." and closes it by itself after
  // AutoCloseMsgBoxTimer's interval unless the user closed it first.
  void ShowWriteNote();

  // Visits one top-level window for the auto-close: posts a close to the
  // first visible window owned by this window whose title begins with the
  // "Note" caption. Returns whether to go on with the next window.
  bool CloseNoteBoxProc(QWidget* topLevel, intptr_t);

  // Path of the per-user settings file formed at creation (nothing is
  // stored in it; only its folder is created).
  QString SettingsFile() const { return SettingsFilePath; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  void ConnectHandlers();
  void CentreOnScreen();
  // One open attempt of ComPort1 under 'deviceName'; a failure is kept in
  // OpenFailureCode/OpenFailureDevice (the path the name opens) when it
  // tells more than the ones before.
  bool TryOpen(const std::string& deviceName);
  void ClearChangeFlags();

  // True when the fresh scan (RescanComPorts) lists the port in use.
  bool InUsePortPresent() const;

  QString SettingsFilePath;
  std::uint64_t DeviceNotifyHandle = 0;  // the registration for device notices; 0: none
  std::int32_t ComPortInUse = 0;
  TRxLineBuffer RxBuffer;  // received bytes not yet forming a line
  std::uint32_t CommandState = 0;
  bool ComPortOpened = false;
  bool OkReceived = false;
  std::int32_t GWReceiveInputGainChanged = 0;
  std::int32_t GWTransmitOutputGainChanged = 0;
  std::int32_t GWTalkAroundOutputGainChanged = 0;
  QString InUsePortName;

  bool Centred = false;
  int OpenFailureCode = 0;
  QString OpenFailureDevice;
};

// The folder the per-user folder is made in: the user's roaming
// application-data folder where the system keeps one (Windows), else the
// user's configuration folder (QStandardPaths::GenericConfigLocation).
QString UserDataFolder();

// The settings file for an executable: '<folder>/<base name>.INI', where the
// base name is the executable's file name cut at its last ".", if any.
QString SettingsFilePathFor(const QString& folder, const QString& exeName);

// The caption version mark and its separator.
inline constexpr char VersionMark[] = "V1.02";

// The one main window of the tool.
extern TMajorForm* MajorForm;

// True until the first window is shown in this process: the first-show
// prompt comes once per run.
extern bool FirstShow;
