// The configuration dialogs of the component on Windows, where the system
// shows its own dialog on the default it keeps: the dialog is answered
// through its labels. Under Wine 8 the defaults are kept for COM1 to COM9
// only, without looking at a device; the test puts its port's back.
#include <gtest/gtest.h>

#include <cstring>

#include "comport/Comport.h"
#include "framework/StoredDescription.h"
#include "platform/CommConfig.h"
#include "support/OtherThread.h"
#include "support/windows/SystemDialogAnswerer.h"

#undef GetDefaultCommConfig
#undef SetDefaultCommConfig

namespace {

constexpr char kPort[] = "COM7";

std::string Description(const TComPort& port) { return WriteComponent(port).toStdString(); }

class ComportSystemConfigDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    uint32_t size = platform::kCommConfigSize;
    ASSERT_TRUE(platform::GetDefaultCommConfig(kPort, saved_, size));
    port.SetDeviceName(QString::fromLatin1(kPort));
  }
  void TearDown() override { EXPECT_TRUE(platform::SetDefaultCommConfig(kPort, saved_, platform::kCommConfigSize)); }

  platform::DCB StoredDefault() const {
    platform::COMMCONFIG config;
    uint32_t size = platform::kCommConfigSize;
    EXPECT_TRUE(platform::GetDefaultCommConfig(kPort, config, size));
    return config.dcb;
  }
  void StoreDefault(const platform::DCB& dcb) const {
    platform::COMMCONFIG config = saved_;
    config.dcb = dcb;
    ASSERT_TRUE(platform::SetDefaultCommConfig(kPort, config, platform::kCommConfigSize));
  }
  static bool Same(const platform::DCB& a, const platform::DCB& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

  platform::COMMCONFIG saved_;
  TComPort port;
};

// The dialog opens with the component's settings where they are set and
// the device's default elsewhere; confirmed, the settings are its block
// read back (the rate as a custom rate), and the default is not touched.
TEST_F(ComportSystemConfigDialog, ConfirmedTheSettingsAreTheDialogsBlockReadBack) {
  platform::DCB stored = saved_.dcb;
  stored.BaudRate = 4800;
  stored.ByteSize = 7;
  stored.Parity = 2;
  StoreDefault(stored);
  port.SetBaudRate(br57600);

  SystemDialogAnswerer answerer({{"Stop Bits", "2"}}, true);
  EXPECT_TRUE(port.ConfigDialog());
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_TRUE(answerer.notApplied.empty());
  EXPECT_EQ(answerer.seen[0].owner, nullptr);
  EXPECT_NE(answerer.seen[0].title.find(kPort), std::string::npos) << answerer.seen[0].title;
  EXPECT_EQ(answerer.seen[0].fields["Baud Rate"], "57600");
  EXPECT_EQ(answerer.seen[0].fields["Data Bits"], "7");
  EXPECT_EQ(answerer.seen[0].fields["Parity"], "Even");

  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 57600);
  EXPECT_EQ(port.DataBits(), db7);
  EXPECT_EQ(port.Parity(), paEven);
  EXPECT_EQ(port.StopBits(), sb2);
  EXPECT_FALSE(port.Active());
  EXPECT_TRUE(Same(StoredDefault(), stored));
}

TEST_F(ComportSystemConfigDialog, CancelledNothingChanges) {
  port.SetBaudRate(br19200);
  port.SetStopBits(sb2);
  const std::string settings = Description(port);
  const platform::DCB before = StoredDefault();
  for (const auto& dialog : {&TCustomComPort::ConfigDialog, &TCustomComPort::DefaultConfigDialog}) {
    SystemDialogAnswerer answerer({{"Baud Rate", "300"}, {"Parity", "Odd"}, {"Stop Bits", "1"}}, false);
    EXPECT_FALSE((port.*dialog)());
    EXPECT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(Description(port), settings);
    EXPECT_TRUE(Same(StoredDefault(), before));
  }
}

// The default dialog shows the stored default, not the component's
// settings, stores what was confirmed and leaves the component alone; a
// port named by its device path shares its port name's default.
TEST_F(ComportSystemConfigDialog, DefaultDialogStoresTheDefaultAndLeavesThePortAlone) {
  port.SetBaudRate(br115200);
  port.SetParity(paEven);
  const std::string settings = Description(port);
  platform::DCB expected = StoredDefault();
  {
    SystemDialogAnswerer answerer({{"Baud Rate", "38400"}, {"Parity", "Odd"}}, true);
    EXPECT_TRUE(port.DefaultConfigDialog());
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].fields["Baud Rate"], std::to_string(expected.BaudRate));
    EXPECT_TRUE(answerer.notApplied.empty());
  }
  const platform::DCB after = StoredDefault();
  EXPECT_EQ(after.BaudRate, 38400u);
  EXPECT_EQ(after.Parity, 1);
  EXPECT_EQ(after.ByteSize, expected.ByteSize);
  EXPECT_EQ(Description(port), settings);

  TComPort byPath;
  byPath.SetDeviceName(QStringLiteral("\\\\.\\") + QString::fromLatin1(kPort));
  SystemDialogAnswerer again;
  EXPECT_FALSE(byPath.DefaultConfigDialog());
  ASSERT_EQ(again.seen.size(), 1u);
  EXPECT_EQ(again.seen[0].fields["Baud Rate"], "38400");
  EXPECT_EQ(again.seen[0].title.find("\\\\.\\"), std::string::npos) << again.seen[0].title;
}

// Asked for on another thread, the dialog shows on the user-interface
// thread (whose answerer sees it) while the caller waits for its answer.
TEST_F(ComportSystemConfigDialog, AskedForOnAnotherThreadTheDialogShowsOnTheUserInterfaceThread) {
  for (const auto& dialog : {&TCustomComPort::ConfigDialog, &TCustomComPort::DefaultConfigDialog}) {
    SystemDialogAnswerer answerer({{"Stop Bits", "2"}}, true);
    bool confirmed = false;
    ASSERT_TRUE(RunOnAnotherThread([&] { confirmed = (port.*dialog)(); }));
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(answerer.seen.size(), 1u);
  }
  EXPECT_EQ(port.StopBits(), sb2);
  EXPECT_EQ(StoredDefault().StopBits, 2);
}

}  // namespace
