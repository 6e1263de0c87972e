// The configuration dialogs of the component, on every system: a default
// that cannot be read raises the platform's error before any dialog shows
// (none would be answered here).
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "comport/Comport.h"
#include "platform/CommConfig.h"
#include "platform/LastError.h"

namespace {

// The code and text of the EComError that f raises (a test failure when
// it raises none).
template <typename F>
std::pair<int, std::string> RaisedComError(F&& f) {
  try {
    f();
  } catch (const EComError& e) {
    return {e.ComErrorCode, e.what()};
  }
  ADD_FAILURE() << "no EComError";
  return {0, {}};
}

TEST(ComportConfigDialogs, AnUnreadableDefaultRaisesThePlatformsErrorBeforeAnyDialog) {
  for (const char* name : {"", "NOPORT"}) {
    SCOPED_TRACE(name);
    platform::COMMCONFIG config;
    uint32_t size = platform::kCommConfigSize;
    ASSERT_FALSE(platform::GetDefaultCommConfig(name, config, size));
    const int code = platform::GetLastError();
    ASSERT_NE(code, 0);
    if (name[0] == '\0') EXPECT_EQ(code, platform::kErrorInvalidParameter);
    TComPort port;
    port.SetDeviceName(QString::fromLatin1(name));
    for (const auto& dialog : {&TCustomComPort::ConfigDialog, &TCustomComPort::DefaultConfigDialog}) {
      const auto [raised, message] = RaisedComError([&] { (port.*dialog)(); });
      EXPECT_EQ(raised, code);
      EXPECT_EQ(message, platform::SystemErrorMessage(code));
    }
  }
}

}  // namespace
