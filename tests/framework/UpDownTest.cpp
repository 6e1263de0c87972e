// TUpDown: user steps ask OnChanging first and move by Increment; vetoes,
// the ends with and without wrap, code-set positions, the bound label.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QWheelEvent>

#include <stdexcept>

#include "framework/UpDown.h"
#include "tests/framework/BoxAnswerer.h"

namespace {

struct Spinner {
  TUpDown upDown;
  QLabel label;
  int changing = 0;
  int positionSeen = 0;  // Position when OnChanging ran
  bool allow = true;

  Spinner(int min, int max, int increment, int position, bool wrap = false) {
    upDown.SetMin(min);
    upDown.SetMax(max);
    upDown.SetIncrement(increment);
    upDown.SetPosition(position);
    upDown.SetWrap(wrap);
    upDown.SetAssociate(&label);
    upDown.OnChanging = TUDChangingEvent::Bind([this](TObject* sender, bool& allowChange) {
      EXPECT_EQ(sender, &upDown);
      ++changing;
      positionSeen = upDown.Position();
      allowChange = allow;
    });
  }
  void Click(bool up) { QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(8, up ? 3 : 17)); }
};

TEST(UpDownTest, ClickAsksOnceThenMovesByIncrementAndShowsIt) {
  Spinner s(-24, 21, 3, 0);
  EXPECT_EQ(s.label.text(), "0");
  s.Click(true);
  EXPECT_EQ(s.changing, 1);
  EXPECT_EQ(s.positionSeen, 0);  // asked before the move
  EXPECT_EQ(s.upDown.Position(), 3);
  EXPECT_EQ(s.label.text(), "3");
  s.Click(false);
  s.Click(false);
  EXPECT_EQ(s.changing, 3);
  EXPECT_EQ(s.label.text(), "-3");
}

TEST(UpDownTest, KeysAndWheelStepLikeClicks) {
  Spinner s(0, 10, 2, 4);
  QTest::keyClick(&s.upDown, Qt::Key_Up);
  EXPECT_EQ(s.upDown.Position(), 6);
  QTest::keyClick(&s.upDown, Qt::Key_Down);
  QTest::keyClick(&s.upDown, Qt::Key_Down);
  EXPECT_EQ(s.upDown.Position(), 2);
  QWheelEvent wheel(QPointF(8, 8), QPointF(8, 8), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(&s.upDown, &wheel);
  EXPECT_EQ(s.upDown.Position(), 4);
  EXPECT_EQ(s.changing, 4);
  EXPECT_EQ(s.label.text(), "4");
}

TEST(UpDownTest, HeldArrowRepeatsUntilReleased) {
  Spinner s(0, 100, 1, 0);
  s.upDown.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s.upDown));
  QTest::mousePress(&s.upDown, Qt::LeftButton, {}, QPoint(8, 3));
  QElapsedTimer clock;
  clock.start();
  while (s.changing < 3 && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  QTest::mouseRelease(&s.upDown, Qt::LeftButton, {}, QPoint(8, 3));
  EXPECT_GE(s.changing, 3);
  const int atRelease = s.upDown.Position();
  EXPECT_EQ(atRelease, s.changing);
  QTest::qWait(300);  // longer than a repeat period: nothing more may come
  EXPECT_EQ(s.upDown.Position(), atRelease);
}

TEST(UpDownTest, VetoOrFailingHandlerKeepsThePosition) {
  Spinner s(0, 10, 1, 5);
  s.allow = false;
  s.Click(true);
  EXPECT_EQ(s.changing, 1);
  EXPECT_EQ(s.upDown.Position(), 5);
  EXPECT_EQ(s.label.text(), "5");

  BoxAnswerer answerer;
  s.upDown.OnChanging = TUDChangingEvent::Bind([](TObject*, bool&) { throw std::runtime_error("No change"); });
  s.Click(true);
  EXPECT_EQ(s.upDown.Position(), 5);
  ASSERT_EQ(answerer.seen.size(), 1);
  EXPECT_EQ(answerer.seen.front().text, "No change");
}

TEST(UpDownTest, EndsStopOrWrap) {
  struct Case {
    int min, max, increment, position;
    bool up, wrap;
    int expected;
  };
  const Case cases[] = {
      {-24, 21, 3, 21, true, false, 21},   // at the top: no change, no event
      {-24, 21, 3, -24, false, false, -24},
      {0, 10, 3, 9, true, false, 10},      // a partial step stops at the end
      {0, 10, 3, 9, true, true, 0},        // past the end: the other end
      {0, 10, 3, 1, false, true, 10},
      {10, 0, 1, 5, true, false, 4},       // reversed range: up counts down
  };
  for (const Case& c : cases) {
    Spinner s(c.min, c.max, c.increment, c.position, c.wrap);
    s.Click(c.up);
    EXPECT_EQ(s.upDown.Position(), c.expected) << c.min << ".." << c.max << " at " << c.position;
    EXPECT_EQ(s.changing, c.expected == c.position ? 0 : 1);
  }
}

TEST(UpDownTest, CodeSetPositionFiresNothingAndIsClamped) {
  Spinner s(-24, 21, 3, 0);
  s.upDown.SetPosition(-9);
  EXPECT_EQ(s.label.text(), "-9");
  s.upDown.SetPosition(99);
  EXPECT_EQ(s.upDown.Position(), 21);
  s.upDown.setProperty("Position", -30);
  EXPECT_EQ(s.upDown.Position(), -24);
  EXPECT_EQ(s.label.text(), "-24");
  EXPECT_EQ(s.changing, 0);
}

TEST(UpDownTest, DisabledTakesNoInput) {
  Spinner s(0, 10, 1, 5);
  s.upDown.setEnabled(false);
  s.Click(true);
  QTest::keyClick(&s.upDown, Qt::Key_Up);
  EXPECT_EQ(s.upDown.Position(), 5);
  EXPECT_EQ(s.changing, 0);
}

TEST(UpDownTest, AssociatedLabelMayGoFirst) {
  TUpDown upDown;
  {
    QLabel label;
    upDown.SetAssociate(&label);
  }
  upDown.SetPosition(7);  // no dangling label
  EXPECT_EQ(upDown.Associate(), nullptr);
  EXPECT_EQ(upDown.sizeHint(), QSize(17, 21));
}

}  // namespace
