// Publishing the terminal as a link: first free name, atomic, removed only
// while it is still ours.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "Link.h"

namespace gwsim {
namespace {

namespace fs = std::filesystem;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gwsim-links-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
};

TEST_F(LinkTest, EachSimulatorTakesTheFirstFreeNumberAndFreesItOnTheWayOut) {
  auto first = PublishedLink::FirstFree(folder_, "ttyGW", "/dev/pts/41");
  auto second = PublishedLink::FirstFree(folder_, "ttyGW", "/dev/pts/42");
  EXPECT_EQ(first.Path(), (folder_ / "ttyGW0").string());
  EXPECT_EQ(second.Path(), (folder_ / "ttyGW1").string());
  EXPECT_EQ(fs::read_symlink(second.Path()), "/dev/pts/42");
  first.Remove();
  EXPECT_FALSE(fs::is_symlink(folder_ / "ttyGW0"));
  {
    auto third = PublishedLink::FirstFree(folder_, "ttyGW", "/dev/pts/43");
    EXPECT_EQ(third.Path(), (folder_ / "ttyGW0").string());
  }
  EXPECT_FALSE(fs::is_symlink(folder_ / "ttyGW0"));
  EXPECT_TRUE(fs::is_symlink(folder_ / "ttyGW1"));
}

TEST_F(LinkTest, LinkReplacedBySomeoneElseIsLeftAlone) {
  fs::path path = folder_ / "gw";
  {
    auto link = PublishedLink::AtPath(path, "/dev/pts/41");
    fs::remove(path);
    fs::create_symlink("/dev/pts/7", path);
  }
  EXPECT_EQ(fs::read_symlink(path), "/dev/pts/7");
}

TEST_F(LinkTest, TakenPathIsAnErrorNamingIt) {
  fs::path path = folder_ / "gw";
  auto link = PublishedLink::AtPath(path, "/dev/pts/41");
  try {
    PublishedLink::AtPath(path, "/dev/pts/42");
    FAIL() << "a second link at the same path";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::file_exists);
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
  EXPECT_EQ(fs::read_symlink(path), "/dev/pts/41");
}

}  // namespace
}  // namespace gwsim
