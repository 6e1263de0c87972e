// The component's own serial configuration dialog: what it shows of a
// device control block, what it writes back, and the flow-control flags of
// each choice.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QWidget>
#include <cstring>

#include "comport/CommConfigDialog.h"
#include "support/DialogAnswerer.h"

namespace {

using namespace platform;

bool SameDcb(const DCB& a, const DCB& b) { return std::memcmp(&a, &b, sizeof(DCB)) == 0; }

// A device's usual default: 9600 baud, 8N1, no flow control, lines raised.
DCB UsualDcb() {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Flags = fBinary | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

// Flags the dialog does not offer, set around every flow-control case.
constexpr uint32_t kOtherFlags = fBinary | fParity | fTXContinueOnXoff | fAbortOnError | fNull;

TEST(CommConfigDialog, EachFlowChoiceSetsTheFlagsThePlatformReadsAndKeepsTheRest) {
  struct Case {
    const char* what;
    uint32_t flow;  // the flow-control part of the flags before
    TCommConfigDialog::FlowChoice choice;
    uint32_t expected;  // ... and after
  };
  const Case cases[] = {
      {"none from RTS/CTS: RTS stays raised", fOutxCtsFlow | RTS_CONTROL_HANDSHAKE | DTR_CONTROL_DISABLE,
       TCommConfigDialog::kFlowNone, RTS_CONTROL_ENABLE | DTR_CONTROL_DISABLE},
      {"none from XON/XOFF keeps the lines", fOutX | fInX | RTS_CONTROL_DISABLE | DTR_CONTROL_ENABLE,
       TCommConfigDialog::kFlowNone, RTS_CONTROL_DISABLE | DTR_CONTROL_ENABLE},
      {"none from DSR/DTR: DTR stays raised", fOutxDsrFlow | DTR_CONTROL_HANDSHAKE, TCommConfigDialog::kFlowNone,
       DTR_CONTROL_ENABLE},
      {"XON/XOFF from RTS/CTS", fOutxCtsFlow | RTS_CONTROL_HANDSHAKE, TCommConfigDialog::kFlowXOnXOff,
       fOutX | fInX | RTS_CONTROL_ENABLE},
      {"XON/XOFF from output only", fOutX | RTS_CONTROL_TOGGLE, TCommConfigDialog::kFlowXOnXOff,
       fOutX | fInX | RTS_CONTROL_TOGGLE},
      {"RTS/CTS from XON/XOFF", fOutX | fInX | RTS_CONTROL_DISABLE | DTR_CONTROL_ENABLE,
       TCommConfigDialog::kFlowRtsCts, fOutxCtsFlow | RTS_CONTROL_HANDSHAKE | DTR_CONTROL_ENABLE},
      {"RTS/CTS from CTS alone", fOutxCtsFlow | RTS_CONTROL_ENABLE, TCommConfigDialog::kFlowRtsCts,
       fOutxCtsFlow | RTS_CONTROL_HANDSHAKE},
      {"as configured changes nothing", fOutX | fOutxDsrFlow | RTS_CONTROL_TOGGLE, TCommConfigDialog::kFlowAsIs,
       fOutX | fOutxDsrFlow | RTS_CONTROL_TOGGLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t flags = TCommConfigDialog::WithFlow(kOtherFlags | c.flow, c.choice);
    EXPECT_EQ(flags, kOtherFlags | c.expected);
    if (c.choice != TCommConfigDialog::kFlowAsIs) EXPECT_EQ(TCommConfigDialog::FlowOf(flags), c.choice);
  }
}

TEST(CommConfigDialog, FlagsThatNoChoiceNamesAreShownAsConfigured) {
  for (const uint32_t flow : {fOutX, fInX, fOutxCtsFlow, static_cast<uint32_t>(RTS_CONTROL_HANDSHAKE),
                              fOutxCtsFlow | RTS_CONTROL_HANDSHAKE | fOutX | fInX, fOutxDsrFlow,
                              static_cast<uint32_t>(DTR_CONTROL_HANDSHAKE)}) {
    SCOPED_TRACE(flow);
    EXPECT_EQ(TCommConfigDialog::FlowOf(kOtherFlags | flow), TCommConfigDialog::kFlowAsIs);
  }
}

// An unchanged dialog gives back every block it was given, also values it
// does not list.
TEST(CommConfigDialog, UnchangedItGivesTheBlockBack) {
  DCB listed = UsualDcb();
  DCB unlisted = listed;
  unlisted.BaudRate = 250000;
  unlisted.ByteSize = 9;
  unlisted.Parity = 7;
  unlisted.StopBits = 5;
  unlisted.Flags = kOtherFlags | fOutX | DTR_CONTROL_HANDSHAKE;
  unlisted.XonLim = 3;
  unlisted.EvtChar = '\n';
  DCB rtsCts = listed;
  rtsCts.Flags = fBinary | fOutxCtsFlow | RTS_CONTROL_HANDSHAKE;
  for (const DCB& dcb : {listed, unlisted, rtsCts}) {
    TCommConfigDialog dialog(QStringLiteral("ttyUSB0"), dcb);
    EXPECT_TRUE(SameDcb(dialog.Dcb(), dcb));
  }
}

TEST(CommConfigDialog, OKOnlyForAPositiveRate) {
  TCommConfigDialog dialog(QStringLiteral("ttyUSB0"), UsualDcb());
  QPushButton* ok = DialogAnswerer::Button(&dialog, QDialogButtonBox::Ok);
  QComboBox* rate = DialogAnswerer::Field(&dialog, "baudRate");
  for (const char* text : {"", "0", "-9600", "fast", "2147483648"}) {
    rate->setEditText(QString::fromLatin1(text));
    EXPECT_FALSE(ok->isEnabled()) << text;
  }
  for (const char* text : {"1", "250000", "2147483647"}) {
    rate->setEditText(QString::fromLatin1(text));
    EXPECT_TRUE(ok->isEnabled()) << text;
    EXPECT_EQ(dialog.Dcb().BaudRate, QByteArray(text).toUInt());
  }
}

}  // namespace
