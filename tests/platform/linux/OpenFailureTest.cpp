// Why a device did not open, looked up in built /proc, /etc/group, /sys and
// /dev trees: the group that keeps the user out, the processes holding the
// device, and a listed device that went away.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <optional>

#include "platform/linux/DeviceHolders.h"
#include "platform/linux/DeviceOwner.h"
#include "platform/LastError.h"
#include "platform/OpenFailure.h"
#include "platform/PtyPair.h"
#include "support/FakeTree.h"

namespace {

using platform::DescribeOpenFailure;
using platform::DeviceHolder;
using platform::Identity;
using platform::OpenFailureKind;

constexpr gid_t kPortGroup = 4242;
constexpr char kPort[] = "ttyUSB0";
constexpr char kUsbPort[] = "1-2";

class OpenFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A USB serial adapter listed in sysfs, its node in <dev> owned by the
    // port group, and a by-id link to it as udev makes.
    tree_.UsbSerial(kPort, kUsbPort, "ftdi_sio", "FT232R USB UART");
    tree_.File(tree_.sys() / "devices/pci0000:00/0000:00:14.0/usb1" / kUsbPort / "idProduct", "6001\n");
    tree_.File(Node());
    ASSERT_EQ(::chown(Node().c_str(), 0, kPortGroup), 0);
    tree_.Link(tree_.dev() / "serial/by-id/usb-FTDI-if00-port0", "../../ttyUSB0");
  }

  std::string Node() const { return (tree_.dev() / kPort).string(); }
  platform::SystemRoots Roots() const { return {tree_.Proc(), tree_.GroupFile(), tree_.Sys(), tree_.Dev()}; }

  FakeTree tree_;
};

TEST_F(OpenFailureTest, ErrorCodesSortIntoCauses) {
  const struct {
    int code;
    bool listed;
    OpenFailureKind kind;
  } cases[] = {
      {0, true, OpenFailureKind::None},
      {EACCES, true, OpenFailureKind::PermissionDenied},
      {EPERM, false, OpenFailureKind::PermissionDenied},
      {EBUSY, true, OpenFailureKind::InUse},
      {ENOENT, true, OpenFailureKind::Gone},
      {ENODEV, true, OpenFailureKind::Gone},
      {ENXIO, true, OpenFailureKind::Gone},
      // A name typed, not listed, that leads nowhere is just a wrong name.
      {ENOENT, false, OpenFailureKind::Other},
      {EIO, true, OpenFailureKind::Other},
      {EINVAL, true, OpenFailureKind::Other},
  };
  for (const auto& c : cases) {
    const auto failure = DescribeOpenFailure(c.code, kPort, c.listed, Roots());
    EXPECT_EQ(failure.kind, c.kind) << c.code << " listed " << c.listed;
    EXPECT_EQ(failure.errorCode, c.code);
    EXPECT_EQ(failure.systemText, c.code == 0 ? "" : platform::SystemErrorMessage(c.code)) << c.code;
  }
}

TEST_F(OpenFailureTest, PermissionDeniedSaysWhatIsLeftToDo) {
  const std::string byId = (tree_.dev() / "serial/by-id/usb-FTDI-if00-port0").string();
  const struct {
    const char* what;
    std::string groupName;  // the database's entry for the group numbered 'groupId'
    gid_t groupId;
    std::string members;
    std::string device;
    Identity who;
    std::string group;  // what the description names
    bool userInGroup;
    bool sessionHasGroup;
  } cases[] = {
      {"not a member", "dialout", kPortGroup, "alice", kPort, {"bob", 1000, {1000}}, "dialout", false, false},
      {"member since this session began", "dialout", kPortGroup, "bob,alice", kPort, {"alice", 1000, {1000}},
       "dialout", true, false},
      {"member in this session: the node's mode keeps the group out", "dialout", kPortGroup, "alice", kPort,
       {"alice", 1000, {1000, kPortGroup}}, "dialout", true, true},
      {"the group is the user's primary group", "dialout", kPortGroup, "", kPort, {"carol", kPortGroup, {1000}},
       "dialout", true, false},
      {"a member name is matched whole", "dialout", kPortGroup, "bobby", kPort, {"bob", 1000, {1000}}, "dialout",
       false, false},
      {"the database does not name the group", "other", 7, "bob", kPort, {"bob", 1000, {1000}}, "4242", false,
       false},
      {"reached through a link", "dialout", kPortGroup, "alice", byId, {"bob", 1000, {1000}}, "dialout", false,
       false},
      {"the node cannot be examined", "dialout", kPortGroup, "bob", "ttyUSB9", {"bob", 1000, {1000}}, "", false,
       false},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(tree_.GroupFile());
    tree_.Group("root", 0, "");
    tree_.Group(c.groupName, c.groupId, c.members);
    const auto failure = DescribeOpenFailure(EACCES, c.device, true, Roots(), c.who);
    EXPECT_EQ(failure.kind, OpenFailureKind::PermissionDenied) << c.what;
    EXPECT_EQ(failure.user, c.who.user) << c.what;
    EXPECT_EQ(failure.group, c.group) << c.what;
    EXPECT_EQ(failure.userInGroup, c.userInGroup) << c.what;
    EXPECT_EQ(failure.sessionHasGroup, c.sessionHasGroup) << c.what;
  }
}

TEST(GroupDatabaseTest, FindsTheFirstWellFormedEntryWithTheNumber) {
  FakeTree tree;
  std::filesystem::create_directories(tree.root() / "etc");
  std::ofstream(tree.GroupFile()) << "broken line\n"
                                  << "short:x:20\n"
                                  << "notanumber:x:2x0:eve\n"
                                  << "dialout:x:20:alice,,bob\n"
                                  << "dialout2:x:20:carol\n"
                                  << "last:x:30:dave";  // no line end
  const auto dialout = platform::FindGroup(tree.GroupFile(), 20);
  ASSERT_TRUE(dialout);
  EXPECT_EQ(dialout->name, "dialout");
  EXPECT_EQ(dialout->members, (std::vector<std::string>{"alice", "bob"}));
  const auto last = platform::FindGroup(tree.GroupFile(), 30);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->members, std::vector<std::string>{"dave"});
  EXPECT_FALSE(platform::FindGroup(tree.GroupFile(), 21));
  EXPECT_FALSE(platform::FindGroup((tree.root() / "missing").string(), 20));
}

TEST_F(OpenFailureTest, InUseNamesTheHolders) {
  const auto other = tree_.root() / "notes.txt";
  tree_.File(other);
  tree_.File(tree_.proc() / "self" / "comm", "not a process\n");  // non-numeric entries are no processes
  tree_.Process(100, "minicom", {"/dev/null", Node()});
  tree_.Process(200, "bash", {other});
  tree_.Process(300, "screen", {tree_.dev() / "serial/by-id/usb-FTDI-if00-port0"});
  std::filesystem::create_directories(tree_.proc() / "400");  // ended while examined: no fd folder
  const auto failure = DescribeOpenFailure(EBUSY, kPort, true, Roots());
  ASSERT_EQ(failure.kind, OpenFailureKind::InUse);
  ASSERT_EQ(failure.holders.seen.size(), 2u);
  std::vector<std::pair<int, std::string>> seen;
  for (const DeviceHolder& h : failure.holders.seen) seen.emplace_back(h.pid, h.program);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{{100, "minicom"}, {300, "screen"}}));
  EXPECT_TRUE(failure.holders.unseen.empty());
  EXPECT_FALSE(failure.modemManager);
  EXPECT_FALSE(failure.adapter);
}

TEST_F(OpenFailureTest, AHolderThatCannotBeSeenIsReported) {
  tree_.HiddenProcess(500, "agetty");
  tree_.Process(600, "bash", {"/dev/null"});
  const auto failure = DescribeOpenFailure(EBUSY, kPort, true, Roots());
  EXPECT_TRUE(failure.holders.seen.empty());
  ASSERT_EQ(failure.holders.unseen.size(), 1u);
  EXPECT_EQ(failure.holders.unseen[0].pid, 500);
  EXPECT_EQ(failure.holders.unseen[0].program, "agetty");
}

TEST_F(OpenFailureTest, TheModemManagerComesWithTheAdaptersIds) {
  const std::string mm = platform::kModemManagerProgram;
  const std::optional<platform::UsbIds> ftdi = platform::UsbIds{"0403", "6001"};
  const struct {
    const char* what;
    std::function<void(FakeTree&)> build;
    std::optional<int> modemManager;  // the pid named as (possible) holder
    std::optional<platform::UsbIds> adapter;
  } cases[] = {
      {"it holds the port", [&](FakeTree& t) { t.Process(812, mm, {Node()}); }, 812, ftdi},
      // It runs as root: a user cannot see its files, and no other holder is seen.
      {"it runs unseen", [&](FakeTree& t) { t.HiddenProcess(812, mm); }, 812, ftdi},
      {"it runs unseen, another holder is seen",
       [&](FakeTree& t) {
         t.HiddenProcess(812, mm);
         t.Process(900, "minicom", {Node()});
       },
       std::nullopt, std::nullopt},
      {"it runs, holding other files", [&](FakeTree& t) { t.Process(812, mm, {"/dev/null"}); }, std::nullopt,
       std::nullopt},
      {"sysfs lacks idProduct",
       [&](FakeTree& t) {
         t.Process(812, mm, {Node()});
         std::filesystem::remove(t.sys() / "devices/pci0000:00/0000:00:14.0/usb1" / kUsbPort / "idProduct");
       },
       812, std::nullopt},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(tree_.proc());
    c.build(tree_);
    const auto failure = DescribeOpenFailure(EBUSY, kPort, true, Roots());
    EXPECT_EQ(failure.modemManager ? std::optional<int>(failure.modemManager->pid) : std::nullopt, c.modemManager)
        << c.what;
    EXPECT_EQ(failure.adapter.has_value(), c.adapter.has_value()) << c.what;
    if (failure.adapter && c.adapter) {
      EXPECT_EQ(failure.adapter->vendor, c.adapter->vendor) << c.what;
      EXPECT_EQ(failure.adapter->product, c.adapter->product) << c.what;
    }
  }
}

// The real process tree: this process holding a pseudo-terminal is found by
// the node's path, its program named as the system names it.
TEST(DeviceHoldersTest, FindsThisProcessInTheSystemsProcessTree) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  const auto holders = platform::FindDeviceHolders(pty.path());
  ::close(fd);
  std::ifstream comm("/proc/self/comm");
  std::string program;
  std::getline(comm, program);
  ASSERT_EQ(holders.seen.size(), 1u);
  EXPECT_EQ(holders.seen[0].pid, ::getpid());
  EXPECT_EQ(holders.seen[0].program, program);
  EXPECT_TRUE(platform::FindDeviceHolders(pty.path()).seen.empty());
}

}  // namespace
