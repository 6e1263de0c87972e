// The port in a stored description: what is written, and what reading one
// does (Active is replayed when loading ends, at run time only).
#include <QObject>

#include "ComportTestSupport.h"
#include "framework/MethodTable.h"
#include "framework/StoredDescription.h"

using namespace comporttest;

namespace {

// An owner with a published handler, as a window is.
class TPortForm : public QObject {
  Q_OBJECT

 public:
  int opened = 0;
  void ComPort1AfterOpen(TCustomComPort*) { ++opened; }
  void ComPort1RxChar(TObject*) {}
  void ComPort1LineError(TObject*, TLineErrors) {}
  void ComPort1AfterWrite(TObject*, const void*, int, bool) {}
};

QStringList Lines(const QString& text) {
  QStringList lines;
  for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) lines << line.trimmed();
  return lines;
}

}  // namespace

PUBLISH_HANDLER(TPortForm, ComPort1AfterOpen);
PUBLISH_HANDLER(TPortForm, ComPort1RxChar);
PUBLISH_HANDLER(TPortForm, ComPort1LineError);
PUBLISH_HANDLER(TPortForm, ComPort1AfterWrite);

TEST(ComportStored, OnlyStoredNonDefaultPropertiesAreWritten) {
  TPortForm form;
  auto* port = new TComPort(&form);
  port->SetName("ComPort1");
  EXPECT_EQ(Lines(WriteComponent(*port)),
            (QStringList{"object ComPort1: TComPort", "Active = False", "DeviceName = 'COM1'", "Options = []", "end"}));

  port->SetDeviceName("COM2");
  port->SetBaudRate(br115200);
  port->SetParity(paNone);
  port->SetOptions(opCheckParity | opAbortOnError);
  port->FlowControl()->SetXOnLimit(10);
  port->Characters()->SetEvent(13);
  port->Timeouts()->SetReadInterval(-1);
  port->SetSynchronizeEvents(false);
  port->SetThreadPriority(tpHigher);
  port->SetAfterOpen(TOpenCloseEvent(&form, &TPortForm::ComPort1AfterOpen));
  EXPECT_EQ(Lines(WriteComponent(*port)),
            (QStringList{"object ComPort1: TComPort", "Active = False", "DeviceName = 'COM2'", "BaudRate = br115200",
                         "Parity = paNone", "Options = [opCheckParity, opAbortOnError]", "FlowControl.XOnLimit = 10",
                         "Characters.Event = 13", "Timeouts.ReadInterval = -1", "SynchronizeEvents = False",
                         "ThreadPriority = tpHigher", "AfterOpen = ComPort1AfterOpen", "end"}));

  // The custom rate only under brCustom.
  port->SetCustomBaudRate(250000);
  EXPECT_TRUE(Lines(WriteComponent(*port)).contains("CustomBaudRate = 250000"));
  port->SetBaudRate(br9600);
  EXPECT_FALSE(WriteComponent(*port).contains("CustomBaudRate"));
}

TEST(ComportStored, ADescriptionReadsBackIntoAnEqualPort) {
  TPortForm form;
  auto* source = new TComPort(&form);
  source->SetName("ComPort1");
  source->SetCustomBaudRate(31250);
  source->SetStopBits(sb2);
  source->SetOptions(opDiscardNullBytes);
  source->FlowControl()->SetXOnXOffControl(xcInput);
  source->BufferSizes()->SetInput(16384);
  source->SetPriorityClass(pcHigh);
  source->SetLogFile("/tmp/port's log");
  source->SetAfterOpen(TOpenCloseEvent(&form, &TPortForm::ComPort1AfterOpen));
  const QString text = WriteComponent(*source);

  TPortForm other;
  auto* copy = new TComPort(&other);
  ReadComponent(*copy, text);
  EXPECT_EQ(WriteComponent(*copy), text);
  EXPECT_EQ(copy->BaudRate(), brCustom);
  EXPECT_EQ(copy->CustomBaudRate(), 31250);
  EXPECT_EQ(copy->LogFile(), "/tmp/port's log");
  EXPECT_TRUE(copy->AfterOpen().SameCode(TOpenCloseEvent(&other, &TPortForm::ComPort1AfterOpen)));
  EXPECT_EQ(copy->AfterOpen().Data(), &other);
}

TEST(ComportStored, LineAndTransferEventsBindByMethodName) {
  TPortForm form;
  auto* port = new TComPort(&form);
  const QString text =
      "object ComPort1: TComPort\n  Active = False\n  DeviceName = 'COM1'\n  Options = []\n"
      "  OnLineError = ComPort1LineError\n  OnRxChar = ComPort1RxChar\n  AfterWrite = ComPort1AfterWrite\nend\n";
  ReadComponent(*port, text);
  EXPECT_TRUE(port->OnRxChar().SameCode(TNotifyEvent(&form, &TPortForm::ComPort1RxChar)));
  EXPECT_EQ(port->OnRxChar().Data(), &form);
  EXPECT_TRUE(port->OnLineError().SameCode(TLineErrorEvent(&form, &TPortForm::ComPort1LineError)));
  EXPECT_TRUE(port->AfterWrite().SameCode(TReadWriteEvent(&form, &TPortForm::ComPort1AfterWrite)));
  const QStringList written = Lines(WriteComponent(*port));
  for (const char* line :
       {"OnRxChar = ComPort1RxChar", "OnLineError = ComPort1LineError", "AfterWrite = ComPort1AfterWrite"})
    EXPECT_TRUE(written.contains(line)) << line;
}

TEST(ComportStored, ActiveInADescriptionOpensThePortWhenLoadingEnds) {
  Pty pty;
  for (const bool active : {true, false}) {
    SCOPED_TRACE(active);
    TPortForm form;
    auto* port = new TComPort(&form);
    const LineProbe line(*port, pty);
    const QString text = QString(
                             "object ComPort1: TComPort\n  Active = %1\n  DeviceName = '%2'\n"
                             "  BaudRate = br115200\n  AfterOpen = ComPort1AfterOpen\nend\n")
                             .arg(active ? "True" : "False", pty.QPath());
    ReadComponent(*port, text);
    EXPECT_EQ(port->Active(), active);
    EXPECT_EQ(form.opened, active ? 1 : 0);
    if (active) EXPECT_EQ(line.Read().speed, 115200u);
  }
}

TEST(ComportStored, ADesignTimeInstanceRecordsActiveWithoutADevice) {
  FakePort f;
  f.port.SetDesigning(true);
  ReadComponent(f.port, "object ComPort1: TComPort\n  Active = True\n  DeviceName = 'COM9'\nend\n");
  EXPECT_TRUE(f.port.Active());
  EXPECT_TRUE(f.openedNames.empty());
  EXPECT_TRUE(Lines(WriteComponent(f.port)).contains("Active = True"));
}

#include "ComportStoredTest.moc"
