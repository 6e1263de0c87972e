// The line monitor example's window on a pseudo-terminal: the path typed
// into the port field opens it, received text shows and lights the RX
// lamp, a typed line goes out and lights the TX lamp, failures show in the
// status line. Received text shows as sent however the reads split it,
// the history is bounded, the view stays where the user scrolled it, and
// every lamp's label can be read on both of its colours.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <cmath>
#include <string>
#include <vector>

#include "LineMonitor.h"
#include "tests/comsignal/ComsignalSupport.h"

namespace comsignaltest {
namespace {

// The window with its port open on the slave of 'pty'.
void OpenOn(LineMonitor& window, const Pty& pty) {
  window.PortBox()->setEditText(pty.QPath());
  window.OpenOrClose();
  ASSERT_TRUE(window.Port()->Active()) << window.StatusLine()->text().toStdString();
}

// The received view's text once it equals 'expected' (or after a generous
// wait, whatever it shows then).
QString ShownWhenEqual(const LineMonitor& window, const QString& expected) {
  WaitUntil([&] { return window.ReceivedView()->toPlainText() == expected; });
  return window.ReceivedView()->toPlainText();
}

// The last complete line the received view shows.
QString LastLine(const LineMonitor& window) {
  return window.ReceivedView()->document()->lastBlock().previous().text();
}

// "line <from>\n" ... "line <to - 1>\n" from the far end, a hundred at a
// time, each hundred once the view shows the last before (the far end
// would otherwise block in its write while the window waits on the test).
// False when the view did not show them.
bool SendLines(const LineMonitor& window, const Pty& pty, int from, int to) {
  for (int first = from; first < to; first += 100) {
    const int end = std::min(first + 100, to);
    std::string lines;
    for (int i = first; i < end; ++i) lines += "line " + std::to_string(i) + "\n";
    pty.Send(lines);
    const QString last = QStringLiteral("line %1").arg(end - 1);
    if (!WaitUntil([&] { return LastLine(window) == last; })) {
      ADD_FAILURE() << "shown: " << LastLine(window).toStdString() << ", sent: " << last.toStdString();
      return false;
    }
  }
  return true;
}

// The contrast between two colours as a reader sees it: 1 (none) to 21
// (black on white); body text wants at least 4.5.
double ContrastRatio(const QColor& a, const QColor& b) {
  const auto luminance = [](const QColor& c) {
    const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(LineMonitorTest, ShowsReceivedTextSendsLinesAndLightsTheLamps) {
  Pty pty;
  LineMonitor window;
  window.PortBox()->setEditText(pty.QPath());
  // Lamps stay lit, so the test does not race their Delay.
  window.Indicator(siRxChar)->SetDelay(0);
  window.Indicator(siTxChar)->SetDelay(0);
  const QColor off = ColorToQColor(window.Indicator(siRxChar)->ColorOff());
  const QColor on = ColorToQColor(window.Indicator(siRxChar)->ColorOn());
  EXPECT_EQ(Background(*window.Lamp(siRxChar)), off);

  QTest::mouseClick(window.OpenButton(), Qt::LeftButton);
  ASSERT_TRUE(window.Port()->Active()) << window.StatusLine()->text().toStdString();
  EXPECT_EQ(window.Port()->DeviceName(), pty.QPath());
  EXPECT_EQ(window.Port()->CustomBaudRate(), 115200);
  EXPECT_EQ(window.OpenButton()->text(), "Close");

  pty.Send("hello\n");
  EXPECT_TRUE(WaitUntil([&] { return Background(*window.Lamp(siRxChar)) == on; }));
  EXPECT_TRUE(WaitUntil([&] { return window.ReceivedView()->toPlainText() == "hello\n"; }))
      << window.ReceivedView()->toPlainText().toStdString();
  EXPECT_EQ(Background(*window.Lamp(siTxChar)), off);

  QTest::keyClicks(window.SendEdit(), "AT");
  QTest::keyClick(window.SendEdit(), Qt::Key_Return);
  EXPECT_EQ(pty.Receive(4), "AT\r\n");
  EXPECT_EQ(Background(*window.Lamp(siTxChar)), on);
  EXPECT_TRUE(window.SendEdit()->text().isEmpty());

  QTest::mouseClick(window.OpenButton(), Qt::LeftButton);
  EXPECT_FALSE(window.Port()->Active());
  EXPECT_EQ(Background(*window.Lamp(siRxChar)), off);
  EXPECT_EQ(window.OpenButton()->text(), "Open");
}

TEST(LineMonitorTest, APortThatCannotBeOpenedIsReportedInTheStatusLine) {
  LineMonitor window(QStringLiteral("/nonexistent/ttyNone"));
  window.OpenOrClose();
  EXPECT_FALSE(window.Port()->Active());
  EXPECT_TRUE(window.StatusLine()->text().startsWith("Cannot open /nonexistent/ttyNone"))
      << window.StatusLine()->text().toStdString();
  window.SendEdit()->setText("x");
  window.SendLine();
  EXPECT_EQ(window.StatusLine()->text(), "Open a port first.");
}

// The window's decoding of received bytes: a stream holding split-prone
// characters of two, three and four bytes and every kind of line end gives
// the same text in one read, in two reads split at any byte, and byte by
// byte (where a lone LF follows a CR shown a read before).
TEST(LineMonitorReceivedTextTest, TheTextIsTheSameHoweverTheBytesAreSplit) {
  const QByteArray bytes("caf\xC3\xA9\r\n\xE2\x82\xAC\r\r\n\n\xF0\x9F\x98\x80\rend");
  const QString expected = QStringLiteral("caf\u00E9\n\u20AC\n\n\n\U0001F600\nend");
  const auto inReads = [&](const std::vector<qsizetype>& ends) {
    ReceivedText received;
    QString text;
    qsizetype start = 0;
    for (const qsizetype end : ends) {
      text += received.Take(bytes.sliced(start, end - start));
      start = end;
    }
    return text.toStdString();
  };
  EXPECT_EQ(inReads({bytes.size()}), expected.toStdString());
  std::vector<qsizetype> byteByByte;
  for (qsizetype split = 1; split < bytes.size(); ++split) {
    EXPECT_EQ(inReads({split, bytes.size()}), expected.toStdString()) << "split at " << split;
    byteByByte.push_back(split);
  }
  byteByByte.push_back(bytes.size());
  EXPECT_EQ(inReads(byteByByte), expected.toStdString());
}

// The far end's writes, each shown before the next is sent, so each comes
// in its own read. Text split inside a UTF-8 character or between the CR
// and the LF of a line end shows as if it had come in one piece; a new
// session does not continue the last one's line end.
TEST(LineMonitorTest, ReceivedTextShowsAsSentHoweverTheReadsSplitIt) {
  struct Step {
    std::string bytes;
    QString shows;
    bool reopenFirst = false;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"two-byte character", {{"caf\xC3", "caf"}, {"\xA9!\n", QStringLiteral("caf\u00E9!\n")}}},
      {"three-byte character", {{"x\xE2\x82", "x"}, {"\xAC y\n", QStringLiteral("x\u20AC y\n")}}},
      {"CR then LF", {{"one\r", "one\n"}, {"\ntwo\r", "one\ntwo\n"}, {"\n\nthree", "one\ntwo\n\nthree"}}},
      {"CR alone", {{"a\r", "a\n"}, {"b\n", "a\nb\n"}}},
      {"CR before a reopen", {{"one\r", "one\n"}, {"\ntwo", "one\n\ntwo", true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pty pty;
    LineMonitor window;
    ASSERT_NO_FATAL_FAILURE(OpenOn(window, pty));
    for (const Step& step : c.steps) {
      if (step.reopenFirst) {
        window.OpenOrClose();
        window.OpenOrClose();
        ASSERT_TRUE(window.Port()->Active());
      }
      pty.Send(step.bytes);
      EXPECT_EQ(ShownWhenEqual(window, step.shows).toStdString(), step.shows.toStdString());
    }
  }
}

// While lines stream in, a view at the bottom follows them and a view the
// user scrolled up stays on the lines it shows, also while the oldest
// lines are dropped from the bounded history.
TEST(LineMonitorTest, TheViewStaysWhereTheUserScrolledItAndTheHistoryIsBounded) {
  Pty pty;
  LineMonitor window;
  window.resize(640, 480);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_NO_FATAL_FAILURE(OpenOn(window, pty));
  QPlainTextEdit* view = window.ReceivedView();
  QScrollBar* bar = view->verticalScrollBar();
  const auto topLine = [&] { return view->cursorForPosition(QPoint(0, 0)).block().text(); };
  const auto scrolledUpStaysThrough = [&](int value, int from, int to) {
    bar->setValue(value);  // the user scrolls up
    const QString top = topLine();
    ASSERT_TRUE(SendLines(window, pty, from, to));
    EXPECT_EQ(topLine().toStdString(), top.toStdString());
  };

  ASSERT_TRUE(SendLines(window, pty, 0, 200));
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  scrolledUpStaysThrough(50, 200, 400);

  bar->setValue(bar->maximum());  // and back down
  const int bound = view->maximumBlockCount();
  ASSERT_GT(bound, 0) << "the history is unbounded";
  ASSERT_TRUE(SendLines(window, pty, 400, 450 + bound));
  EXPECT_EQ(bar->value(), bar->maximum());
  // Lines 451 to 449 + bound, and the empty one the next text goes on.
  EXPECT_EQ(view->blockCount(), bound);
  EXPECT_EQ(view->document()->firstBlock().text(), "line 451");

  scrolledUpStaysThrough(bar->maximum() / 2, 450 + bound, 650 + bound);
}

// Each lamp's label on each of its lamp's colours (shown in turn as the
// off colour) has the contrast body text needs.
TEST(LineMonitorTest, EveryLampsLabelCanBeReadOnBothOfItsColours) {
  LineMonitor window;
  for (const TSignal signal : {siRxChar, siTxChar, siCTS, siDSR, siRLSD, siLineError}) {
    TComSignal* indicator = window.Indicator(signal);
    const QLabel* lamp = window.Lamp(signal);
    for (const TColor color : {indicator->ColorOff(), indicator->ColorOn()}) {
      indicator->SetColorOff(color);
      const QColor background = Background(*lamp);
      EXPECT_EQ(background, ColorToQColor(color));
      const QColor text = lamp->palette().color(lamp->foregroundRole());
      EXPECT_GE(ContrastRatio(text, background), 4.5)
          << lamp->text().toStdString() << ": " << text.name().toStdString() << " on "
          << background.name().toStdString();
    }
  }
}

}  // namespace
}  // namespace comsignaltest
