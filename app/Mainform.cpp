#include "app/Mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>

#include "app/PortDiscovery.h"
#include "app/Texts.h"
#include "framework/Application.h"
#include "framework/Guard.h"
#include "framework/MessageBox.h"
#include "framework/MethodTable.h"
#include "framework/StoredDescription.h"

// Handlers the window's stored component description binds by name.
PUBLISH_HANDLER(TMajorForm, UartRespTimeoutTimerTimer);
PUBLISH_HANDLER(TMajorForm, ShowPromptTimerTimer);
PUBLISH_HANDLER(TMajorForm, AutoCloseMsgBoxTimerTimer);

TMajorForm* MajorForm = nullptr;
bool FirstShow = true;

namespace {

// Name of the per-user folder under the user's configuration folder.
const QString SettingsFolderName = QStringLiteral("KVTLM");

}  // namespace

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
  if (MajorForm == this) MajorForm = nullptr;
}

// The window's non-visual components, restored from their stored
// description (a resource), so the designed values come from data.
void TMajorForm::CreateComponents() {
  static const bool registered = RegisterComponentClass<TTimer>();
  (void)registered;
  QFile design(QStringLiteral(":/app/Mainform.components"));
  if (!design.open(QIODevice::ReadOnly | QIODevice::Text))
    throw Exception("The window's component description is missing from the program's resources");
  ReadComponents(this, QString::fromUtf8(design.readAll()));
  const auto component = [this](TTimer*& field, const char* name) {
    field = findChild<TTimer*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    if (field == nullptr) throw Exception(std::string("The window's component description has no ") + name);
  };
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

  // The per-user folder; failing to create it is not an error (nothing is
  // stored in it).
  const QString folder =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + SettingsFolderName;
  QDir().mkpath(folder);
  SettingsFilePath = SettingsFilePathFor(folder, Application->ExeName());

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

// Opening the port and the gateway exchanges come with the serial component.
void TMajorForm::OpenComPortButtonClick(TObject*) {}

void TMajorForm::CloseComPortButtonClick(TObject*) {}

void TMajorForm::WriteButtonClick(TObject*) {}

void TMajorForm::UartRespTimeoutTimerTimer(TObject*) {}

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
