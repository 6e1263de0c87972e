// The main window without a serial port: creation, texts, the first-show
// prompt, the self-closing note, the exit question and the exception
// display.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/Mainform.h"
#include "app/PortDiscovery.h"
#include "app/Texts.h"
#include "comport/Comport.h"
#include "comsignal/Comsignal.h"
#include "framework/Application.h"
#include "framework/Exception.h"
#include "framework/StoredDescription.h"
#include "framework/UpDown.h"
#include "support/SpinnerClick.h"

namespace {

constexpr int kGenerousMs = 10000;

// Watches for the next modal message box and, once it is shown, records
// what it shows and runs 'action' on it (from inside the box's own loop).
class TModalResponder {
 public:
  explicit TModalResponder(std::function<void(QMessageBox*)> action = {}) : action_(std::move(action)) {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] { Check(); });
    timer_.start(5);
  }

  bool Seen() const { return seen_; }
  qint64 SeenAfterMs() const { return seenAfter_; }
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  QWidget* owner = nullptr;
  bool ownerVisible = false;

 private:
  void Check() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer_.stop();
    seen_ = true;
    seenAfter_ = clock_.elapsed();
    text = box->text();
    caption = box->windowTitle();
    icon = box->icon();
    buttons = box->standardButtons();
    if (box->defaultButton() != nullptr) defaultButton = box->standardButton(box->defaultButton());
    owner = box->parentWidget();
    ownerVisible = owner != nullptr && owner->isVisible();
    if (action_) action_(box);
  }

  std::function<void(QMessageBox*)> action_;
  QTimer timer_;
  QElapsedTimer clock_;
  bool seen_ = false;
  qint64 seenAfter_ = -1;
};

void Press(QMessageBox::StandardButton which, QMessageBox* box) { box->button(which)->click(); }

class MainformTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Port discovery reads an empty built tree, never the machine's own.
    devices_ = new QTemporaryDir;
    QDir(devices_->path()).mkpath(QStringLiteral("sys/class/tty"));
    QDir(devices_->path()).mkpath(QStringLiteral("dev"));
    SetDeviceRoots(devices_->filePath(QStringLiteral("sys")), devices_->filePath(QStringLiteral("dev")));
    // The per-user folder goes to Qt's test location, not the user's.
    QStandardPaths::setTestModeEnabled(true);
  }
  static void TearDownTestSuite() {
    delete devices_;
    devices_ = nullptr;
  }

  void SetUp() override {
    FirstShow = false;  // the prompt tests turn it on
    form_ = std::make_unique<TMajorForm>();
  }

  static QTemporaryDir* devices_;
  std::unique_ptr<TMajorForm> form_;
};

QTemporaryDir* MainformTest::devices_ = nullptr;

TEST(TextsTest, StringTableEntriesAndMissingIds) {
  const struct {
    int id;
    const char* text;
  } cases[] = {
      {20000, "English"},
      {20001, "QL75N Gateway Audio Level Adjustment"},
      {20101, "Select COM Port"},
      {20102, "Open COM Port"},
      {20103, "Close COM Port"},
      {20104, "Unable to open the selected COM Port. Please select again!"},
      {20105, "Time out for the device to respond. Please start over again!"},
      {20106, "Please select COM Port and open COM Port."},
      {20107, "Write successfully."},
      {20108, "The settings had been changed. Are you sure to exit?"},
      {20109, "Note"},
      {20110, "Error"},
      {30101, "Write"},
      {30102, "Exit"},
      // Missing entries give the empty text.
      {0, ""},
      {-1, ""},
      {20002, ""},
      {20111, ""},
      {30103, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LoadText(c.id), QString::fromLatin1(c.text)) << c.id;
}

TEST(TextsTest, VersionRecord) {
  EXPECT_EQ(FileVersion(), "1.0.0.5");
  EXPECT_EQ(FileDescription(), "MZP3 Configure Tool");
}

TEST(TextsTest, FontFollowsTheLanguageText) {
  QFont design(QStringLiteral("MS Sans Serif"));
  design.setPointSize(8);
  const struct {
    const char* language;
    int pointSize;
    const char* firstFamily;
  } cases[] = {
      {"English", 8, "MS Sans Serif"},
      {"", 8, "MS Sans Serif"},
      {"japanese", 8, "MS Sans Serif"},  // the match is case-sensitive
      {"Japanese", 10, "Noto Sans CJK JP"},
      {"Japanese (Japan)", 10, "Noto Sans CJK JP"},
      {"Traditional Chinese", 10, "Noto Sans CJK TC"},
      {"Simplified Chinese", 8, "MS Sans Serif"},
      {"Japanese, Traditional Chinese", 10, "Noto Sans CJK JP"},  // Japanese is checked first
  };
  for (const auto& c : cases) {
    const QFont font = FontForLanguage(QString::fromLatin1(c.language), design);
    EXPECT_EQ(font.pointSize(), c.pointSize) << c.language;
    ASSERT_FALSE(font.families().isEmpty()) << c.language;
    EXPECT_EQ(font.families().first(), c.firstFamily) << c.language;
    EXPECT_TRUE(font.families().contains("MS Sans Serif")) << c.language;  // Latin fallback kept
  }
}

TEST(SettingsPathTest, BaseNameIsTheFileNameCutAtItsLastDot) {
  const struct {
    const char* exe;
    const char* path;
  } cases[] = {
      {"/usr/bin/ql75n-levels", "/cfg/KVTLM/ql75n-levels.INI"},
      {"/opt/tool/levels.bin", "/cfg/KVTLM/levels.INI"},
      {"/opt/tool/a.b.c", "/cfg/KVTLM/a.b.INI"},
      // A "." in a folder name does not cut the path.
      {"/home/u/tool-1.0/ql75n-levels", "/cfg/KVTLM/ql75n-levels.INI"},
      {"ql75n-levels", "/cfg/KVTLM/ql75n-levels.INI"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SettingsFilePathFor(QStringLiteral("/cfg/KVTLM"), QString::fromLatin1(c.exe)), c.path) << c.exe;
  }
}

TEST_F(MainformTest, CreationSetsCaptionSizeTextsAndFolder) {
  EXPECT_EQ(form_->windowTitle(), "QL75N Gateway Audio Level Adjustment, V1.02");
  EXPECT_EQ(Application->Title(), "QL75N Gateway Audio Level Adjustment");
  EXPECT_EQ(form_->size(), QSize(719, 581));
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize());  // fixed size
  EXPECT_FALSE(form_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form_->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(form_->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form_->font().pointSize(), 8);

  EXPECT_EQ(form_->SelectComPortLabel->text(), "Select COM Port");
  EXPECT_EQ(form_->OpenComPortButton->text(), "Open COM Port");
  EXPECT_EQ(form_->CloseComPortButton->text(), "Close COM Port");
  EXPECT_EQ(form_->WriteButton->text(), "Write");
  EXPECT_EQ(form_->ExitButton->text(), "Exit");
  EXPECT_EQ(form_->GroupBox1->title(), "Gateway Audio Levels");
  EXPECT_EQ(form_->MainImage->pixmap().size(), QSize(555, 187));
  EXPECT_TRUE(form_->InfoMemo->isHidden());

  for (TUpDown* spinner :
       {form_->GWReceiveInputGainUpDown, form_->GWTransmitOutputGainUpDown, form_->GWTalkAroundOutputGainUpDown}) {
    EXPECT_EQ(spinner->Min(), -24);
    EXPECT_EQ(spinner->Max(), 21);
    EXPECT_EQ(spinner->Increment(), 3);
    EXPECT_EQ(spinner->Position(), 0);
    EXPECT_FALSE(spinner->Wrap());
    ASSERT_NE(spinner->Associate(), nullptr);
    EXPECT_EQ(spinner->Associate()->text(), "0");
    EXPECT_EQ(spinner->parentWidget(), form_->GroupBox1);
  }

  const struct {
    TTimer* timer;
    const char* name;
    int interval;
    void (TMajorForm::*handler)(TObject*);
  } timers[] = {{form_->UartRespTimeoutTimer, "UartRespTimeoutTimer", 1000, &TMajorForm::UartRespTimeoutTimerTimer},
                {form_->ShowPromptTimer, "ShowPromptTimer", 100, &TMajorForm::ShowPromptTimerTimer},
                {form_->AutoCloseMsgBoxTimer, "AutoCloseMsgBoxTimer", 1500, &TMajorForm::AutoCloseMsgBoxTimerTimer}};
  for (const auto& t : timers) {
    EXPECT_EQ(t.timer->Name(), t.name);
    EXPECT_EQ(t.timer->Interval(), t.interval) << t.name;
    EXPECT_FALSE(t.timer->Enabled()) << t.name;
    EXPECT_EQ(t.timer->Owner(), form_.get()) << t.name;
    EXPECT_TRUE(t.timer->OnTimer() == TNotifyEvent(form_.get(), t.handler)) << t.name;
  }

  const QFileInfo settings(form_->SettingsFile());
  EXPECT_EQ(settings.fileName(), QFileInfo(Application->ExeName()).completeBaseName() + ".INI");
  EXPECT_EQ(settings.dir().dirName(), "KVTLM");
  EXPECT_TRUE(settings.dir().exists());
  // Made in the user's roaming application-data folder where the system
  // keeps one, else in the user's configuration folder.
  EXPECT_EQ(QDir::cleanPath(settings.absolutePath()), QDir::cleanPath(QDir(UserDataFolder()).filePath("KVTLM")));
  EXPECT_FALSE(settings.exists());  // nothing is stored in it
}

TEST_F(MainformTest, PortAndIndicatorComeFromTheStoredDescription) {
  TComPort* port = form_->ComPort1;
  EXPECT_EQ(port->Name(), "ComPort1");
  EXPECT_EQ(port->Owner(), form_.get());
  EXPECT_EQ(port->DeviceName(), "COM2");
  EXPECT_EQ(port->Options(), TOptions());
  EXPECT_FALSE(port->Active());
  EXPECT_TRUE(port->OnRxChar() == TNotifyEvent(form_.get(), &TMajorForm::ComPort1RxChar));
  EXPECT_TRUE(port->AfterClose() == TOpenCloseEvent(form_.get(), &TMajorForm::ComPort1AfterClose));

  TComSignal* indicator = form_->ComSignal1;
  EXPECT_EQ(indicator->Name(), "ComSignal1");
  EXPECT_EQ(indicator->Owner(), form_.get());
  EXPECT_EQ(indicator->Delay(), 100);
  EXPECT_EQ(indicator->Signal(), siNone);
  // Written back, the indicator keeps both settings (they have no default).
  const QString written = WriteComponent(*indicator);
  EXPECT_TRUE(written.contains("object ComSignal1: TComSignal")) << written.toStdString();
  EXPECT_TRUE(written.contains("Delay = 100")) << written.toStdString();
  EXPECT_TRUE(written.contains("Signal = siNone")) << written.toStdString();
}

TEST_F(MainformTest, WithNoPortOnlyThePortChoiceIsEnabled) {
  EXPECT_EQ(form_->ComPortListBox->count(), 0);
  EXPECT_EQ(form_->ComPortListBox->selectionMode(), QAbstractItemView::SingleSelection);
  for (QWidget* w :
       std::initializer_list<QWidget*>{form_->OpenComPortButton, form_->ComPortListBox, form_->SelectComPortLabel,
                                       form_->ExitButton, form_->GroupBox1, form_->MainImage}) {
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  }
  for (QWidget* w : std::initializer_list<QWidget*>{
           form_->CloseComPortButton, form_->WriteButton, form_->GWReceiveInputGainStaticText,
           form_->GWReceiveInputGainLabel, form_->GWReceiveInputGainUpDown, form_->GWTransmitOutputGainStaticText,
           form_->GWTransmitOutputGainLabel, form_->GWTransmitOutputGainUpDown, form_->GWTalkAroundOutputGainStaticText,
           form_->GWTalkAroundOutputGainLabel, form_->GWTalkAroundOutputGainUpDown}) {
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  }
}

TEST_F(MainformTest, PromptComesOnceAfterTheFirstShow) {
  FirstShow = true;
  TModalResponder responder([](QMessageBox* box) { Press(QMessageBox::Ok, box); });
  form_->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return responder.Seen(); }, kGenerousMs));
  EXPECT_GE(responder.SeenAfterMs(), 80);  // after the 100 ms timer, not at once
  EXPECT_EQ(responder.text, "Please select COM Port and open COM Port.");
  EXPECT_EQ(responder.caption, "Note");
  EXPECT_EQ(responder.icon, QMessageBox::Information);
  EXPECT_EQ(responder.buttons, QMessageBox::Ok);
  EXPECT_EQ(responder.owner, form_.get());
  EXPECT_TRUE(responder.ownerVisible);
  EXPECT_FALSE(FirstShow);
  EXPECT_FALSE(form_->ShowPromptTimer->Enabled());  // fires once

  // Shown again (restored, or a second window in the same run): no prompt.
  form_->hide();
  form_->show();
  EXPECT_FALSE(form_->ShowPromptTimer->Enabled());
  TMajorForm second;
  second.show();
  EXPECT_FALSE(second.ShowPromptTimer->Enabled());
}

TEST_F(MainformTest, NoteClosesItselfAndLeavesOtherNoteBoxesOpen) {
  // A "Note" box of someone else, and one of this window that is hidden.
  QMessageBox foreign(QMessageBox::Information, "Note", "not ours");
  foreign.show();
  QMessageBox hiddenOwn(QMessageBox::Information, "Note", "hidden", QMessageBox::Ok, form_.get());
  form_->show();

  TModalResponder observer;  // records the note, leaves it to the timer
  bool rescued = false;
  QTimer::singleShot(kGenerousMs, [&] {
    if (auto* box = QApplication::activeModalWidget()) {
      rescued = true;
      box->close();
    }
  });
  QElapsedTimer clock;
  clock.start();
  form_->ShowWriteNote();

  EXPECT_FALSE(rescued) << "the note was not closed by its timer";
  EXPECT_GE(clock.elapsed(), 1400);
  EXPECT_TRUE(observer.Seen());
  EXPECT_EQ(observer.text, "Write successfully.");
  EXPECT_EQ(observer.caption, "Note");
  EXPECT_EQ(observer.icon, QMessageBox::Information);
  EXPECT_EQ(observer.owner, form_.get());
  EXPECT_FALSE(form_->AutoCloseMsgBoxTimer->Enabled());
  QCoreApplication::processEvents();
  EXPECT_TRUE(foreign.isVisible());
}

TEST_F(MainformTest, NoteClosedByHandStopsItsTimer) {
  TModalResponder responder([](QMessageBox* box) { Press(QMessageBox::Ok, box); });
  form_->ShowWriteNote();
  EXPECT_TRUE(responder.Seen());
  EXPECT_FALSE(form_->AutoCloseMsgBoxTimer->Enabled());
  EXPECT_FALSE(form_->AutoCloseMsgBoxTimer->Running());
}

TEST_F(MainformTest, AutoCloseClosesOnlyAVisibleOwnedBoxTitledNote) {
  form_->show();
  struct Case {
    const char* title;
    bool owned;
    bool visible;
    bool closed;
  } cases[] = {
      {"Note", true, true, true},   {"Notes on the gateway", true, true, true},  // the title begins with "Note"
      {"Note", false, true, false}, {"Note", true, false, false},
      {"Error", true, true, false}, {"A Note", true, true, false},
      {"", true, true, false},
  };
  for (const Case& c : cases) {
    QDialog box(c.owned ? form_.get() : nullptr);
    box.setWindowTitle(QString::fromLatin1(c.title));
    if (c.visible) box.show();
    const bool goOn = form_->CloseNoteBoxProc(&box, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(goOn, !c.closed) << c.title << " owned=" << c.owned << " visible=" << c.visible;
    EXPECT_EQ(box.isVisible(), c.visible && !c.closed) << c.title << " owned=" << c.owned;
  }
}

TEST_F(MainformTest, ExitWithoutChangeAsksNothing) {
  form_->show();
  form_->GWReceiveInputGainUpDown->SetPosition(9);  // set by a read, not by the user
  TModalResponder observer([](QMessageBox* box) { Press(QMessageBox::Yes, box); });
  form_->ExitButton->click();
  EXPECT_FALSE(observer.Seen());
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(MainformTest, ExitAfterAUserMovedASpinnerAsks) {
  using Pick = TUpDown* (*)(TMajorForm&);
  const Pick spinners[] = {[](TMajorForm& f) { return f.GWReceiveInputGainUpDown; },
                           [](TMajorForm& f) { return f.GWTransmitOutputGainUpDown; },
                           [](TMajorForm& f) { return f.GWTalkAroundOutputGainUpDown; }};
  for (const Pick pick : spinners) {
    TMajorForm form;
    form.show();
    TUpDown* spinner = pick(form);
    spinner->setEnabled(true);  // as while the port is open
    // Moved and moved back: still a change.
    ClickArrow(spinner, true);
    ASSERT_EQ(spinner->Position(), 3);
    ClickArrow(spinner, false);
    ASSERT_EQ(spinner->Position(), 0);

    {
      TModalResponder no([](QMessageBox* box) { Press(QMessageBox::No, box); });
      EXPECT_FALSE(form.close());
      ASSERT_TRUE(no.Seen());
      EXPECT_EQ(no.text, "The settings had been changed. Are you sure to exit?");
      EXPECT_EQ(no.caption, "Note");
      EXPECT_EQ(no.icon, QMessageBox::Warning);
      EXPECT_EQ(no.buttons, QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(no.defaultButton, QMessageBox::No);
      EXPECT_EQ(no.owner, &form);
      EXPECT_TRUE(form.isVisible());
      EXPECT_EQ(spinner->Position(), 0);
    }
    {
      TModalResponder yes([](QMessageBox* box) { Press(QMessageBox::Yes, box); });
      form.ExitButton->click();
      EXPECT_TRUE(yes.Seen());
      EXPECT_FALSE(form.isVisible());
    }
  }
}

TEST_F(MainformTest, ExceptionInAHandlerIsShownAndTheToolRunsOn) {
  FirstShow = true;
  form_->ShowPromptTimer->SetOnTimer(
      TNotifyEvent::Bind([](TObject*) { throw Exception("the prompt could not be shown"); }));
  TModalResponder display([](QMessageBox* box) { Press(QMessageBox::Ok, box); });
  form_->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return display.Seen(); }, kGenerousMs));
  EXPECT_EQ(display.text, "the prompt could not be shown");
  EXPECT_EQ(display.icon, QMessageBox::Critical);

  // Still working: the window answers its Exit button.
  EXPECT_TRUE(form_->isVisible());
  form_->ExitButton->click();
  EXPECT_FALSE(form_->isVisible());
}

}  // namespace
