// Message boxes: buttons and results, owner, caption, icon, default
// button, and the posted close that auto-closes the note box.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QWidget>

#include "framework/MessageBox.h"
#include "framework/Timer.h"
#include "tests/framework/BoxAnswerer.h"

namespace {

TEST(MessageBoxTest, ReturnsTheButtonThatClosedIt) {
  struct Case {
    unsigned flags;
    QMessageBox::StandardButton click;
    int expected;
    QMessageBox::Icon icon;
  };
  const Case cases[] = {
      {MB_OK | MB_ICONINFORMATION, QMessageBox::Ok, IDOK, QMessageBox::Information},
      {MB_OK | MB_ICONERROR, QMessageBox::Ok, IDOK, QMessageBox::Critical},
      {MB_YESNO | MB_ICONWARNING, QMessageBox::Yes, IDYES, QMessageBox::Warning},
      {MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2, QMessageBox::No, IDNO, QMessageBox::Warning},
  };
  QWidget owner;
  for (const Case& c : cases) {
    BoxAnswerer answerer(BoxAnswerer::Click(c.click));
    EXPECT_EQ(MessageBox(&owner, "Text <b>", "Note", c.flags), c.expected) << c.flags;
    ASSERT_EQ(answerer.seen.size(), 1);
    const SeenBox& box = answerer.seen.front();
    EXPECT_EQ(box.owner, &owner);
    EXPECT_EQ(box.caption, "Note");
    EXPECT_EQ(box.text, "Text <b>");
    EXPECT_EQ(box.format, Qt::PlainText);
    EXPECT_EQ(box.icon, c.icon);
  }
}

TEST(MessageBoxTest, CloseEventPostedByATimerEndsTheBox) {
  // OK box: as if OK was pressed. Yes/No box: the safe answer, No. The
  // timer fires inside the box's own loop.
  const std::pair<unsigned, int> cases[] = {{MB_OK | MB_ICONINFORMATION, IDOK}, {MB_YESNO, IDNO}};
  QWidget owner;
  for (const auto& [flags, expected] : cases) {
    BoxAnswerer watcher([](QMessageBox*) {});  // only records the box
    TTimer autoClose;
    autoClose.SetInterval(20);
    autoClose.SetOnTimer(TNotifyEvent::Bind([&](TObject*) {
      autoClose.SetEnabled(false);
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->parentWidget(), &owner);
      QCoreApplication::postEvent(box, new QCloseEvent);
    }));
    EXPECT_EQ(MessageBox(&owner, "Write successfully.", "Note", flags), expected) << flags;
    EXPECT_EQ(watcher.seen.size(), 1);
  }
}

TEST(MessageBoxTest, SecondDefaultButtonAnswersNoToEnter) {
  const std::pair<unsigned, int> cases[] = {{MB_YESNO | MB_DEFBUTTON2, IDNO}, {MB_YESNO, IDYES}};
  for (const auto& [flags, expected] : cases) {
    BoxAnswerer answerer([](QMessageBox* box) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QCoreApplication::sendEvent(box, &press);
    });
    EXPECT_EQ(MessageBox(nullptr, "Sure?", "Note", flags), expected) << flags;
  }
}

}  // namespace
