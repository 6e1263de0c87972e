// The user's application-data folder on Windows: the roaming one, as the
// system also tells its programs through %APPDATA%.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/AppDataFolder.h"
#include "platform/LastError.h"

TEST(AppDataFolder, IsTheUsersRoamingFolder) {
  const std::string folder = platform::UserAppDataFolder();
  ASSERT_FALSE(folder.empty()) << platform::GetLastError();
  EXPECT_EQ(platform::GetLastError(), 0);
  const char* appData = std::getenv("APPDATA");
  ASSERT_NE(appData, nullptr);
  EXPECT_EQ(::lstrcmpiA(folder.c_str(), appData), 0) << folder << " / " << appData;
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
