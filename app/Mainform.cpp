#include "app/Mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>

#include "app/PortDiscovery.h"
#include "app/Texts.h"
#include "comport/Comport.h"
#include "comport/ComportOpenFailure.h"
#include "comsignal/Comsignal.h"
#include "framework/Application.h"
#include "framework/DeviceNotices.h"
#include "framework/Guard.h"
#include "framework/MessageBox.h"
#include "framework/MethodTable.h"
#include "framework/StoredDescription.h"
#include "platform/AppDataFolder.h"

// Handlers the window's stored component description binds by name.
PUBLISH_HANDLER(TMajorForm, ComPort1RxChar);
PUBLISH_HANDLER(TMajorForm, ComPort1AfterClose);
PUBLISH_HANDLER(TMajorForm, UartRespTimeoutTimerTimer);
PUBLISH_HANDLER(TMajorForm, ShowPromptTimerTimer);
PUBLISH_HANDLER(TMajorForm, AutoCloseMsgBoxTimerTimer);

TMajorForm* MajorForm = nullptr;
bool FirstShow = true;

namespace {

// Name of the per-user folder under the user's configuration folder.
const QString SettingsFolderName = QStringLiteral("KVTLM");

// The gateway's time to answer a command.
constexpr int kResponseTimeoutMs = 1000;
// The pause after a failed open pass (both name forms).
constexpr unsigned long kOpenRetryPauseMs = 1000;
// Bytes taken from the port per read.
constexpr int kReadChunk = 256;

// How much an open failure tells the user, for keeping the most telling one;
// any failure tells more than none (code 0).
int OpenFailureWeight(int code) {
  // Names come from the port list, so a missing device counts as gone.
  switch (platform::OpenFailureKindOf(code, true)) {
    case platform::OpenFailureKind::PermissionDenied:
      return 3;
    case platform::OpenFailureKind::InUse:
      return 2;
    case platform::OpenFailureKind::Gone:
      return 1;
    case platform::OpenFailureKind::Other:
      return 0;
    case platform::OpenFailureKind::None:
      break;
  }
  return -1;
}

}  // namespace

QString UserDataFolder() {
  const std::string system = platform::UserAppDataFolder();
  if (!system.empty()) return QDir::fromNativeSeparators(QString::fromLocal8Bit(system));
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString SettingsFilePathFor(const QString& folder, const QString& exeName) {
  // The file name first, then its extension: a "." in a folder name must
  // not cut the path.
  QString base = QFileInfo(exeName).fileName();
  const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0) base.truncate(dot);
  return folder + QLatin1Char('/') + base + QStringLiteral(".INI");
}

TMajorForm::TMajorForm(QWidget* parent) : QWidget(parent) {
  InitAppResources();
  setupUi(this);
  // A fixed dialog-style window: title, system menu, minimise and close.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(size());
  GWReceiveInputGainUpDown->SetAssociate(GWReceiveInputGainStaticText);
  GWTransmitOutputGainUpDown->SetAssociate(GWTransmitOutputGainStaticText);
  GWTalkAroundOutputGainUpDown->SetAssociate(GWTalkAroundOutputGainStaticText);
  CreateComponents();
  ConnectHandlers();
  FormCreate(this);
}

TMajorForm::~TMajorForm() {
  UnregisterDeviceNotification(DeviceNotifyHandle);
  if (MajorForm == this) MajorForm = nullptr;
}

// The window's non-visual components, restored from their stored
// description (a resource), so the designed values come from data.
void TMajorForm::CreateComponents() {
  static const bool registered =
      RegisterComponentClass<TTimer>() && RegisterComponentClass<TComPort>() && RegisterComponentClass<TComSignal>();
  (void)registered;
  QFile design(QStringLiteral(":/app/Mainform.components"));
  if (!design.open(QIODevice::ReadOnly | QIODevice::Text))
    throw Exception("The window's component description is missing from the program's resources");
  ReadComponents(this, QString::fromUtf8(design.readAll()));
  const auto component = [this]<class T>(T*& field, const char* name) {
    field = findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    if (field == nullptr) throw Exception(std::string("The window's component description has no ") + name);
  };
  component(ComSignal1, "ComSignal1");
  component(ComPort1, "ComPort1");
  component(UartRespTimeoutTimer, "UartRespTimeoutTimer");
  component(ShowPromptTimer, "ShowPromptTimer");
  component(AutoCloseMsgBoxTimer, "AutoCloseMsgBoxTimer");
}

void TMajorForm::ConnectHandlers() {
  const auto click = [this](QPushButton* button, void (TMajorForm::*handler)(TObject*)) {
    GuardedConnect(button, &QPushButton::clicked, this, [this, button, handler] { (this->*handler)(button); });
  };
  click(OpenComPortButton, &TMajorForm::OpenComPortButtonClick);
  click(CloseComPortButton, &TMajorForm::CloseComPortButtonClick);
  click(ExitButton, &TMajorForm::ExitButtonClick);
  click(WriteButton, &TMajorForm::WriteButtonClick);
  using TChanging = TEvent<void(TObject*, bool&)>;
  GWReceiveInputGainUpDown->OnChanging = TChanging(this, &TMajorForm::GWReceiveInputGainUpDownChanging);
  GWTransmitOutputGainUpDown->OnChanging = TChanging(this, &TMajorForm::GWTransmitOutputGainUpDownChanging);
  GWTalkAroundOutputGainUpDown->OnChanging = TChanging(this, &TMajorForm::GWTalkAroundOutputGainUpDownChanging);
}

void TMajorForm::FormCreate(TObject*) {
  SelectComPortLabel->setText(LoadText(IDS_SELECT_COM_PORT));
  OpenComPortButton->setText(LoadText(IDS_OPEN_COM_PORT));
  CloseComPortButton->setText(LoadText(IDS_CLOSE_COM_PORT));

  CommandState = CmdIdle;

  const QString title = LoadText(IDS_TITLE);
  setWindowTitle(title + QStringLiteral(", ") + QLatin1String(VersionMark));

  setFont(FontForLanguage(LoadText(IDS_LANGUAGE), font()));

  FillComPortList(ComPortListBox);
  SelectFirstUsbPort(ComPortListBox);

  Application->SetTitle(title);

  // The per-user folder, in the user's roaming application-data folder
  // where the system keeps one, else in the user's configuration folder;
  // failing to create it is not an error (nothing is stored in it).
  const QString folder = QDir(UserDataFolder()).filePath(SettingsFolderName);
  QDir().mkpath(folder);
  SettingsFilePath = QDir::toNativeSeparators(SettingsFilePathFor(folder, Application->ExeName()));

  // Device notices for the window's life, from the tree the port list is
  // read from; without them the list is only filled here (not an error).
  DeviceNotifyHandle = RegisterDeviceNotification(
      DeviceDevRoot(),
      [this](const TDeviceNotice& notice) {
        DeviceChange(notice.kind == TDeviceNotice::Kind::Arrival
                         ? TCustomComPort::TDeviceChangeMessage::DeviceArrival
                         : TCustomComPort::TDeviceChangeMessage::DeviceRemoveComplete);
      },
      DeviceSysRoot());

  UpdateControlStates();
  InfoMemo->hide();
}

void TMajorForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // restored from the task bar: not a new show
  if (!Centred) {
    Centred = true;
    CentreOnScreen();
  }
  Guarded([this] { FormShow(this); });
}

void TMajorForm::CentreOnScreen() {
  const QScreen* target = screen();
  if (target == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(target->availableGeometry().center());
  move(frame.topLeft());
}

void TMajorForm::FormShow(TObject*) {
  if (FirstShow) {
    FirstShow = false;
    // The prompt comes from a timer so that the window is drawn first.
    ShowPromptTimer->SetEnabled(true);
  }
}

void TMajorForm::ShowPromptTimerTimer(TObject*) {
  ShowPromptTimer->SetEnabled(false);
  MessageBox(this, LoadText(IDS_SELECT_AND_OPEN), LoadText(IDS_NOTE), MB_OK | MB_ICONINFORMATION);
}

void TMajorForm::ShowWriteNote() {
  AutoCloseMsgBoxTimer->SetEnabled(true);
  MessageBox(this, LoadText(IDS_WRITE_SUCCESSFUL), LoadText(IDS_NOTE), MB_OK | MB_ICONINFORMATION);
  AutoCloseMsgBoxTimer->SetEnabled(false);
}

void TMajorForm::AutoCloseMsgBoxTimerTimer(TObject*) {
  AutoCloseMsgBoxTimer->SetEnabled(false);
  for (QWidget* topLevel : QApplication::topLevelWidgets()) {
    if (!CloseNoteBoxProc(topLevel, 0)) break;
  }
}

bool TMajorForm::CloseNoteBoxProc(QWidget* topLevel, intptr_t) {
  const QString note = LoadText(IDS_NOTE);
  // Titles are compared as the system reads them: at most 255 characters.
  const QString title = topLevel->windowTitle().left(255);
  // A hidden window is no box on the screen (a box that has just closed
  // may linger until it is deleted); it must not end the search.
  if (topLevel->isVisible() && title.startsWith(note) && topLevel->parentWidget() == this) {
    QCoreApplication::postEvent(topLevel, new QCloseEvent);
    return false;
  }
  return true;
}

void TMajorForm::closeEvent(QCloseEvent* event) {
  // An exception in the question keeps the window open.
  bool canClose = false;
  Guarded([&] {
    bool allow = true;
    FormCloseQuery(this, allow);
    canClose = allow;
  });
  if (canClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TMajorForm::FormCloseQuery(TObject*, bool& CanClose) {
  if (GWReceiveInputGainChanged || GWTransmitOutputGainChanged || GWTalkAroundOutputGainChanged) {
    CanClose = MessageBox(this, LoadText(IDS_EXIT_QUESTION), LoadText(IDS_NOTE),
                          MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
  }
}

void TMajorForm::ExitButtonClick(TObject*) { close(); }

// ---- opening and closing the port -----------------------------------------

void TMajorForm::OpenComPortButtonClick(TObject*) {
  // The selected entry, not the current row: a list that gains focus gets a
  // current row without anything being selected.
  const QList<QListWidgetItem*> selected = ComPortListBox->selectedItems();
  const int index = selected.isEmpty() ? -1 : ComPortListBox->row(selected.first());
  std::string name;
  bool opened = false;
  if (index >= 0 && static_cast<std::size_t>(index) < ComPortNames.size()) {
    name = ComPortNames[static_cast<std::size_t>(index)];
    opened = OpenComPort(name);
  } else {
    MessageBox(this, LoadText(IDS_OPEN_FAILED), LoadText(IDS_ERROR), MB_OK | MB_ICONERROR);
  }
  ComPortInUse = opened ? 1 : 0;
  if (opened) {
    StartExchange(CmdIdentify);  // identify, then read levels, follow by themselves
  } else {
    InUsePortName.clear();
  }
}

bool TMajorForm::OpenComPort(const std::string& name) {
  CloseComPort();
  ComPortOpened = false;
  // What an earlier session left (a reply cut short by its time-out) must
  // not join this session's first reply.
  RxBuffer.Clear();
  ComPort1->SetBaudRate(br115200);
  ComPort1->SetDataBits(db8);
  ComPort1->SetParity(paNone);
  ComPort1->SetStopBits(sb1);
  // Names open in the device tree the list is read from: a bare name is a
  // node there, never a file in the working folder.
  ComPort1->SetDeviceRoots(DeviceSysRoot(), DeviceDevRoot());
  const std::string prefixed = QFile::encodeName(DeviceDevRoot()).toStdString() + '/' + name;
  OpenFailureCode = 0;
  OpenFailureDevice.clear();
  for (int pass = 0; pass < 2; ++pass) {
    if (TryOpen(name) || TryOpen(prefixed)) {
      ComPortOpened = true;
      InUsePortName = QString::fromStdString(name);
      UpdateControlStates();
      return true;
    }
    QThread::msleep(kOpenRetryPauseMs);  // the window waits with the user
  }
  // The name came from the port list: a missing device was unplugged since.
  const platform::OpenFailure cause =
      DescribeComOpenFailure(OpenFailureDevice, OpenFailureCode, true, LookupRoots());
  MessageBox(this, OpenFailureText(cause), LoadText(IDS_ERROR), MB_OK | MB_ICONERROR);
  return false;
}

bool TMajorForm::TryOpen(const std::string& deviceName) {
  ComPort1->SetDeviceName(QFile::decodeName(deviceName.c_str()));
  try {
    ComPort1->Open();
    return true;
  } catch (const EComError& e) {
    if (OpenFailureWeight(e.ComErrorCode) > OpenFailureWeight(OpenFailureCode)) {
      OpenFailureCode = e.ComErrorCode;
      OpenFailureDevice = ComPort1->DevicePath();
    }
    return false;
  }
}

void TMajorForm::CloseComPort() {
  ComPortOpened = false;
  try {
    ComPort1->Close();
  } catch (const EComError&) {
    // The window counts the port as closed either way.
  }
  UpdateControlStates();
}

void TMajorForm::ReleaseComPort() {
  CloseComPort();
  ComPortInUse = 0;
}

// A pending exchange goes on: its time-out still comes.
void TMajorForm::CloseComPortButtonClick(TObject*) { ReleaseComPort(); }

void TMajorForm::ComPort1AfterClose(TCustomComPort*) {
  // The window's own closes mark the port closed first.
  if (!ComPortOpened) return;
  ReleaseComPort();
  FillComPortList(ComPortListBox);
}

// ---- devices arriving and leaving -------------------------------------------

void TMajorForm::DeviceChange(std::uint32_t eventCode) {
  using TMessage = TCustomComPort::TDeviceChangeMessage;
  if (eventCode == TMessage::DeviceArrival) {
    if (ComPortInUse) return;
    FillComPortList(ComPortListBox);
    SelectFirstUsbPort(ComPortListBox);
  } else if (eventCode == TMessage::DeviceRemoveComplete) {
    RescanComPorts();
    // Looked at on every removal, not only when the number of ports
    // changed: the shown list is not refreshed while a port is in use, so
    // its count says nothing when another port came meanwhile. A pending
    // exchange goes on, as after the Close button: its time-out still comes.
    if ((ComPort1->Active() || ComPortOpened) && !InUsePortPresent()) ReleaseComPort();
    if (!ComPortInUse) FillComPortList(ComPortListBox);
  }
}

bool TMajorForm::InUsePortPresent() const {
  const std::string name = InUsePortName.toStdString();
  return !name.empty() && std::find(ScannedPortNames.begin(), ScannedPortNames.end(), name) != ScannedPortNames.end();
}

// ---- the gateway exchanges -------------------------------------------------

void TMajorForm::WriteButtonClick(TObject*) { StartExchange(CmdWriteLevels); }

void TMajorForm::StartExchange(std::uint32_t code) {
  CommandState = code;
  SendGatewayCommand();
}

void TMajorForm::SendGatewayCommand() {
  // The positions are the numbers on the wire.
  const std::string command =
      FormatGatewayCommand(CommandState, GWReceiveInputGainUpDown->Position(), GWTransmitOutputGainUpDown->Position(),
                           GWTalkAroundOutputGainUpDown->Position());
  OkReceived = false;
  ComPort1->WriteString(command);
  // Unchanged values change nothing: a running timer keeps the deadline of
  // the exchange that started it.
  UartRespTimeoutTimer->SetInterval(kResponseTimeoutMs);
  UartRespTimeoutTimer->SetEnabled(true);
}

void TMajorForm::ComPort1RxChar(TObject*) {
  int remaining = 0;
  try {
    remaining = ComPort1->InputCount();
  } catch (const EComError&) {
    return;  // the bytes are read at the next event
  }
  // Everything waiting is read before any line is interpreted: a line may
  // open the write note, whose message loop runs this handler again.
  char scratch[kReadChunk];
  while (remaining > 0) {
    const int count = std::min(remaining, kReadChunk);
    ComPort1->Read(scratch, count, true);
    RxBuffer.Append(scratch, static_cast<std::size_t>(count));
    remaining -= count;
  }
  // Each line leaves the buffer before it is interpreted, so a nested run
  // of this handler neither sees it again nor loses what came after it.
  std::string line;
  while (ComPortOpened && RxBuffer.TakeLine(line)) HandleReplyLine(line);
}

void TMajorForm::HandleReplyLine(const std::string& line) {
  const TReplyLine reply = ParseReplyLine(line);
  if (reply.Kind == TReplyKind::Ok) {
    OkReceived = true;
    return;
  }
  if (reply.Kind != TReplyKind::Status || !OkReceived) return;
  const auto code = static_cast<std::uint32_t>(reply.Fields[0]);
  if (CommandState == CmdIdentify && code == CmdIdentify && reply.Fields[1] == GatewayIdentityValue) {
    UartRespTimeoutTimer->SetEnabled(false);
    StartExchange(CmdReadLevels);
  } else if (CommandState == CmdReadLevels && code == CmdReadLevels) {
    // Each gain as a 16-bit position; the spinner keeps it inside its range.
    GWReceiveInputGainUpDown->SetPosition(static_cast<std::int16_t>(reply.Fields[1]));
    GWTransmitOutputGainUpDown->SetPosition(static_cast<std::int16_t>(reply.Fields[2]));
    GWTalkAroundOutputGainUpDown->SetPosition(static_cast<std::int16_t>(reply.Fields[3]));
    UartRespTimeoutTimer->SetEnabled(false);
    ClearChangeFlags();
    CommandState = CmdIdle;
  } else if (CommandState == CmdWriteLevels && code == CmdWriteLevels) {
    UartRespTimeoutTimer->SetEnabled(false);
    ClearChangeFlags();
    CommandState = CmdIdle;
    ShowWriteNote();
  }
}

void TMajorForm::UartRespTimeoutTimerTimer(TObject*) {
  UartRespTimeoutTimer->SetEnabled(false);
  CommandState = CmdIdle;
  CloseComPort();
  UpdateControlStates();
  MessageBox(this, LoadText(IDS_RESPONSE_TIMEOUT), LoadText(IDS_ERROR), MB_OK | MB_ICONWARNING);
}

void TMajorForm::ClearChangeFlags() {
  GWReceiveInputGainChanged = 0;
  GWTransmitOutputGainChanged = 0;
  GWTalkAroundOutputGainChanged = 0;
}

void TMajorForm::GWReceiveInputGainUpDownChanging(TObject*, bool& AllowChange) {
  GWReceiveInputGainChanged = 1;
  AllowChange = true;
}

void TMajorForm::GWTransmitOutputGainUpDownChanging(TObject*, bool& AllowChange) {
  GWTransmitOutputGainChanged = 1;
  AllowChange = true;
}

void TMajorForm::GWTalkAroundOutputGainUpDownChanging(TObject*, bool& AllowChange) {
  GWTalkAroundOutputGainChanged = 1;
  AllowChange = true;
}

void TMajorForm::UpdateControlStates() {
  const bool opened = ComPortOpened;
  for (QWidget* w : std::initializer_list<QWidget*>{OpenComPortButton, ComPortListBox, SelectComPortLabel}) {
    w->setEnabled(!opened);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{
           CloseComPortButton, GWReceiveInputGainStaticText, GWReceiveInputGainLabel, GWReceiveInputGainUpDown,
           GWTransmitOutputGainStaticText, GWTransmitOutputGainLabel, GWTransmitOutputGainUpDown,
           GWTalkAroundOutputGainStaticText, GWTalkAroundOutputGainLabel, GWTalkAroundOutputGainUpDown, WriteButton}) {
    w->setEnabled(opened);
  }
}
