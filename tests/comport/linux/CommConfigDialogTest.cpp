// Where the system has no configuration dialog of its own (Linux), the
// component shows its own for the record.
#include <gtest/gtest.h>

#include <QWidget>
#include <cstring>

#include "comport/CommConfigDialog.h"
#include "support/DialogAnswerer.h"

namespace {

using namespace platform;

bool SameDcb(const DCB& a, const DCB& b) { return std::memcmp(&a, &b, sizeof(DCB)) == 0; }

TEST(CommConfigDialog, ConfirmedTheRecordTakesTheFieldsCancelledItStaysAsItWas) {
  COMMCONFIG original = BuiltInCommConfig();
  original.dcb.Flags |= fParity | fAbortOnError;
  original.dcb.EvtChar = '\r';
  const std::vector<std::pair<const char*, QString>> edits = {{"baudRate", "250000"}, {"dataBits", "7"},
                                                               {"parity", "Mark"},     {"stopBits", "1.5"},
                                                               {"flowControl", "XON/XOFF"}};
  QWidget owner;

  COMMCONFIG config = original;
  {
    DialogAnswerer answerer(DialogAnswerer::Answer(edits, false));
    EXPECT_FALSE(CommConfigDialog("ttyUSB0", &owner, config));
    ASSERT_EQ(answerer.seen.size(), 1);
    EXPECT_EQ(answerer.seen[0].title, "Settings of ttyUSB0");
    EXPECT_EQ(answerer.seen[0].owner, &owner);
    EXPECT_EQ(answerer.seen[0].baudRate, "9600");
    EXPECT_EQ(answerer.seen[0].flowControl, "None");
  }
  EXPECT_EQ(std::memcmp(&config, &original, sizeof config), 0);

  DialogAnswerer answerer(DialogAnswerer::Answer(edits));
  EXPECT_TRUE(CommConfigDialog("ttyUSB0", nullptr, config));
  ASSERT_EQ(answerer.seen.size(), 1);
  EXPECT_EQ(answerer.seen[0].owner, nullptr);
  DCB expected = original.dcb;
  expected.BaudRate = 250000;
  expected.ByteSize = 7;
  expected.Parity = 3;
  expected.StopBits = 1;
  expected.Flags |= fOutX | fInX;
  EXPECT_TRUE(SameDcb(config.dcb, expected));
}

}  // namespace
