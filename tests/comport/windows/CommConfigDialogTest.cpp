// Where the system has a configuration dialog of its own (Windows), that
// one is shown for the record, on the user-interface thread. Under Wine the
// dialog works for any name and needs a graphics driver.
#include <gtest/gtest.h>

#include <QWidget>
#include <cstring>

#include "comport/CommConfigDialog.h"
#include "support/OtherThread.h"
#include "support/windows/SystemDialogAnswerer.h"

// The system's name for its ANSI or wide call would rename ours.
#undef CommConfigDialog

namespace {

platform::COMMCONFIG UsualRecord() {
  platform::COMMCONFIG config;
  config.dcb.BaudRate = 9600;
  config.dcb.ByteSize = 8;
  config.dcb.Flags = platform::fBinary;
  return config;
}

TEST(SystemCommConfigDialog, CancelledTheRecordStaysConfirmedItTakesThePick) {
  platform::COMMCONFIG config = UsualRecord();
  const platform::COMMCONFIG before = config;
  QWidget owner;  // the offscreen platform has no window of the system's
  {
    SystemDialogAnswerer answerer({{"Baud Rate", "19200"}}, false);
    EXPECT_FALSE(CommConfigDialog("COM7", &owner, config));
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].fields["Baud Rate"], "9600");
    EXPECT_NE(answerer.seen[0].title.find("COM7"), std::string::npos) << answerer.seen[0].title;
  }
  EXPECT_EQ(std::memcmp(&config, &before, sizeof config), 0);

  SystemDialogAnswerer answerer({{"Baud Rate", "19200"}}, true);
  EXPECT_TRUE(CommConfigDialog("COM7", nullptr, config));
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_TRUE(answerer.notApplied.empty());
  EXPECT_EQ(config.dcb.BaudRate, 19200u);
  EXPECT_EQ(config.dcb.ByteSize, 8);
}

// Asked for on another thread, the dialog shows on the user-interface
// thread (whose answerer sees it) while the caller waits.
TEST(SystemCommConfigDialog, AskedForOnAnotherThreadItShowsOnTheUserInterfaceThread) {
  platform::COMMCONFIG config = UsualRecord();
  SystemDialogAnswerer answerer({{"Baud Rate", "38400"}}, true);
  bool confirmed = false;
  ASSERT_TRUE(RunOnAnotherThread([&] { confirmed = CommConfigDialog("COM7", nullptr, config); }));
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(config.dcb.BaudRate, 38400u);
}

}  // namespace
