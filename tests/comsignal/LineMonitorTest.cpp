// The line monitor example's window on a pseudo-terminal: the path typed
// into the port field opens it, received text shows and lights the RX
// lamp, a typed line goes out and lights the TX lamp, failures show in the
// status line.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "LineMonitor.h"
#include "tests/comsignal/ComsignalSupport.h"

namespace comsignaltest {
namespace {

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

}  // namespace
}  // namespace comsignaltest
