// The device's default configuration and the configuration dialog on
// Windows, through the system's own calls. Under Wine 8 the defaults are
// kept for the names COM1 to COM9 only (any other name fails with
// ERROR_BADKEY, the bridge's COM10 and above among them) and without
// looking at a device; the dialog needs a graphics driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/CommConfig.h"
#include "platform/LastError.h"
#include "support/windows/SystemDialogAnswerer.h"

#undef GetDefaultCommConfig
#undef SetDefaultCommConfig

// Inside the namespace its names come before the system's of the same.
namespace platform {
namespace {

constexpr char kPort[] = "COM7";

COMMCONFIG ReadDefault(const std::string& name) {
  COMMCONFIG config{};
  uint32_t size = kCommConfigSize;
  EXPECT_TRUE(GetDefaultCommConfig(name, config, size)) << name << ": " << platform::GetLastError();
  EXPECT_EQ(size, kCommConfigSize);
  return config;
}

bool SameDcb(const DCB& a, const DCB& b) { return std::memcmp(&a, &b, sizeof(DCB)) == 0; }

// Puts the port's default back as it was, whatever the test stored.
class CommConfigDefault : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(SetDefaultCommConfig(kPort, before_, kCommConfigSize)); }
  COMMCONFIG before_ = ReadDefault(kPort);
};

TEST_F(CommConfigDefault, AStoredDefaultIsReadBackByEveryNameOfThePort) {
  COMMCONFIG changed = before_;
  changed.dcb.BaudRate = 38400;
  changed.dcb.Parity = 1;
  changed.dcb.StopBits = 2;
  changed.dcb.Flags |= platform::fOutX | platform::fInX;
  ASSERT_TRUE(SetDefaultCommConfig(kPort, changed, kCommConfigSize));
  EXPECT_EQ(platform::GetLastError(), 0);
  for (const std::string name : {std::string(kPort), "\\\\.\\" + std::string(kPort)}) {
    SCOPED_TRACE(name);
    const COMMCONFIG read = ReadDefault(name);
    EXPECT_TRUE(SameDcb(read.dcb, changed.dcb));
    EXPECT_EQ(read.dwSize, kCommConfigSize);
  }
}

// What the system would take wrongly (a name cut at a NUL) or refuse
// without a code is refused before it; every failure carries a code.
TEST(CommConfig, EveryFailureCarriesACode) {
  COMMCONFIG config{};
  uint32_t size = 10;
  platform::SetLastError(0);
  EXPECT_FALSE(GetDefaultCommConfig(kPort, config, size));
  EXPECT_EQ(platform::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, kCommConfigSize);

  const COMMCONFIG before = ReadDefault(kPort);
  COMMCONFIG valid = before;
  valid.dcb.BaudRate = before.dcb.BaudRate == 300 ? 600 : 300;  // a change, were it stored
  COMMCONFIG shortRecord = valid;
  shortRecord.dwSize = 10;
  struct Case {
    const char* what;
    std::string name;
    const COMMCONFIG* record;
    uint32_t size;
  };
  const Case refused[] = {
      {"size below the record's", kPort, &valid, 10},
      {"record size below its own", kPort, &shortRecord, kCommConfigSize},
      {"no name", "", &valid, kCommConfigSize},
      {"only the device namespace", "\\\\.\\", &valid, kCommConfigSize},
      {"a NUL in the name", std::string("COM7\0COM8", 9), &valid, kCommConfigSize},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    platform::SetLastError(0);
    EXPECT_FALSE(SetDefaultCommConfig(c.name, *c.record, c.size));
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
  }
  // Not stored under the name before the NUL either.
  EXPECT_TRUE(SameDcb(ReadDefault(kPort).dcb, before.dcb));

  for (const char* name : {"", "LPT1", "NOPORT"}) {
    SCOPED_TRACE(name);
    size = kCommConfigSize;
    platform::SetLastError(0);
    EXPECT_FALSE(GetDefaultCommConfig(name, config, size));
    EXPECT_NE(platform::GetLastError(), 0);
  }
}

// A window the dialog can belong to.
class OwnerWindow {
 public:
  OwnerWindow()
      : window_(::CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  nullptr, nullptr)) {}
  ~OwnerWindow() {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }
  HWND Get() const { return window_; }

 private:
  HWND window_;
};

class SystemDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(owner.Get(), nullptr) << "no window can be made: the dialog needs a display or Wine's null driver";
  }
  OwnerWindow owner;
};

TEST_F(SystemDialog, CancelledTheRecordStaysAsItWas) {
  COMMCONFIG config = ReadDefault(kPort);
  const COMMCONFIG before = config;
  SystemDialogAnswerer answerer({{"Baud Rate", "19200"}}, false);
  ASSERT_TRUE(answerer.Hooked());
  EXPECT_EQ(ShowSystemCommConfigDialog(kPort, reinterpret_cast<std::uintptr_t>(owner.Get()), config),
            SystemCommConfigDialog::kCancelled);
  EXPECT_EQ(platform::GetLastError(), ERROR_CANCELLED);
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(answerer.seen[0].owner, owner.Get());
  EXPECT_NE(answerer.seen[0].title.find(kPort), std::string::npos) << answerer.seen[0].title;
  EXPECT_EQ(std::memcmp(&config, &before, sizeof config), 0);
}

// The dialog shows the record it is given and gives back what was picked;
// a port named by its device path is shown by its name; an owner that is
// no window is left out.
TEST_F(SystemDialog, ConfirmedTheRecordTakesThePickedValues) {
  COMMCONFIG config = ReadDefault(kPort);
  config.dcb.BaudRate = 57600;
  const COMMCONFIG before = config;
  SystemDialogAnswerer answerer({{"Baud Rate", "19200"}}, true);
  EXPECT_EQ(ShowSystemCommConfigDialog("\\\\.\\" + std::string(kPort), 0x12345, config),
            SystemCommConfigDialog::kConfirmed);
  EXPECT_EQ(platform::GetLastError(), 0);
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(answerer.seen[0].owner, nullptr);
  EXPECT_EQ(answerer.seen[0].fields["Baud Rate"], "57600");
  EXPECT_NE(answerer.seen[0].title.find(kPort), std::string::npos) << answerer.seen[0].title;
  EXPECT_TRUE(answerer.notApplied.empty());
  EXPECT_EQ(config.dcb.BaudRate, 19200u);
  EXPECT_EQ(config.dcb.ByteSize, before.dcb.ByteSize);
  EXPECT_EQ(config.dcb.Parity, before.dcb.Parity);
  EXPECT_EQ(config.dcb.StopBits, before.dcb.StopBits);
}

TEST(SystemDialogRefused, ANameTheSystemWouldCutIsRefused) {
  COMMCONFIG config = ReadDefault(kPort);
  SystemDialogAnswerer answerer({}, true);
  for (const std::string& name : {std::string(), std::string("COM7\0COM8", 9)}) {
    platform::SetLastError(0);
    EXPECT_EQ(ShowSystemCommConfigDialog(name, 0, config), SystemCommConfigDialog::kCancelled);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_TRUE(answerer.seen.empty());
}

}  // namespace
}  // namespace platform
