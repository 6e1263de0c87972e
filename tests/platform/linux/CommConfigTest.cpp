// The device's default configuration: the built-in default, the per-user
// store (a built device folder and a temporary store folder), the names
// that lead to a terminal and the files that hold their defaults, and
// files that are not the store's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/PtyPair.h"
#include "platform/CommConfig.h"
#include "platform/LastError.h"
#include "support/FakeTree.h"

namespace {

namespace fs = std::filesystem;
using platform::COMMCONFIG;
using platform::DCB;

bool SameDcb(const DCB& a, const DCB& b) { return std::memcmp(&a, &b, sizeof(DCB)) == 0; }

// A device folder with one serial device, "ttyTEST0", which is a link to a
// pseudo-terminal, and a store folder beside it.
class CommConfigStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    tree.Link(tree.dev() / "ttyTEST0", pty.path());
    places.devRoot = tree.Dev();
    places.storeFolder = (tree.root() / "store").string();
  }

  // The record a read gives; nullopt (last error kept) when it fails.
  std::optional<COMMCONFIG> Read(const std::string& name) {
    COMMCONFIG config;
    std::memset(&config, 0, sizeof config);
    uint32_t size = platform::kCommConfigSize;
    if (!platform::GetDefaultCommConfig(name, config, size, places)) return std::nullopt;
    EXPECT_EQ(size, platform::kCommConfigSize);
    return config;
  }
  bool Write(const std::string& name, const DCB& dcb) {
    COMMCONFIG config = platform::BuiltInCommConfig();
    config.dcb = dcb;
    return platform::SetDefaultCommConfig(name, config, platform::kCommConfigSize, places);
  }
  // The name of the fixture device's file in the store, without ".conf":
  // its whole path, escaped, as the device lies outside the built folder.
  std::string TestKey() const {
    std::string key;
    for (const char c : pty.path()) key += c == '/' ? std::string("%2F") : std::string(1, c);
    return key;
  }
  // A device node at 'path' for the test's own pseudo-terminal; false
  // without the right to make one.
  bool Node(const fs::path& path) {
    struct stat terminal {};
    fs::create_directories(path.parent_path());
    return ::stat(pty.path().c_str(), &terminal) == 0 &&
           ::mknod(path.c_str(), S_IFCHR | 0600, terminal.st_rdev) == 0;
  }
  fs::path StoredFile(const std::string& key) const { return fs::path(places.storeFolder) / (key + ".conf"); }
  void Store(const std::string& key, const std::string& text) {
    fs::create_directories(places.storeFolder);
    std::ofstream(StoredFile(key)) << text;
  }
  // Every file below the temporary root, links included.
  std::vector<std::string> AllFiles() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(tree.root()))
      if (!entry.is_directory()) files.push_back(entry.path().lexically_relative(tree.root()).string());
    std::sort(files.begin(), files.end());
    return files;
  }

  PtyPair pty;
  FakeTree tree;
  platform::CommConfigPlaces places;
};

constexpr const char* kNoNodes = "no right to make device nodes";

// An unusual value in every stored field.
DCB UnusualDcb() {
  DCB dcb = platform::BuiltInCommConfig().dcb;
  dcb.BaudRate = 250000;
  dcb.ByteSize = 7;
  dcb.Parity = 3;
  dcb.StopBits = 2;
  dcb.Flags = platform::fBinary | platform::fParity | platform::fOutxCtsFlow | platform::RTS_CONTROL_HANDSHAKE |
              platform::fAbortOnError;
  dcb.XonLim = 65535;
  dcb.XoffLim = 7;
  dcb.XonChar = 0x11 + 1;
  dcb.XoffChar = static_cast<char>(0xff);
  dcb.ErrorChar = '?';
  dcb.EofChar = 26;
  dcb.EvtChar = '\n';
  return dcb;
}

TEST_F(CommConfigStore, NothingStoredGivesTheTtyLayersDefault) {
  const auto config = Read("ttyTEST0");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->dwSize, 52u);
  EXPECT_EQ(config->wVersion, platform::kCommConfigVersion);
  EXPECT_EQ(config->dwProviderSubType, platform::PST_RS232);
  EXPECT_EQ(config->dwProviderSize, 0u);
  const DCB& dcb = config->dcb;
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.Flags, platform::fBinary | platform::DTR_CONTROL_ENABLE | platform::RTS_CONTROL_ENABLE);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_GT(dcb.XonLim, 0);
  EXPECT_GT(dcb.XoffLim, 0);
  EXPECT_FALSE(fs::exists(places.storeFolder));  // reading stores nothing
}

TEST_F(CommConfigStore, AStoredConfigurationIsReadBackWholeAndReplacedWhole) {
  ASSERT_TRUE(Write("ttyTEST0", UnusualDcb()));
  auto config = Read("ttyTEST0");
  ASSERT_TRUE(config);
  EXPECT_TRUE(SameDcb(config->dcb, UnusualDcb()));

  DCB second = platform::BuiltInCommConfig().dcb;
  second.BaudRate = 1200;
  ASSERT_TRUE(Write("ttyTEST0", second));
  config = Read("ttyTEST0");
  ASSERT_TRUE(config);
  EXPECT_TRUE(SameDcb(config->dcb, second));
  // One file, renamed into place: no temporary file stays behind.
  EXPECT_EQ(AllFiles(), (std::vector<std::string>{"dev/ttyTEST0", "store/" + TestKey() + ".conf"}));
}

// A name without a '/' is a node in the device folder, any other a path as
// given; every name that leads to a device, through links anywhere, shares
// that device's default.
TEST_F(CommConfigStore, AllNamesOfADeviceShareItsDefault) {
  tree.Link(tree.dev() / "serial" / "by-id" / "usb-gateway", "../../ttyTEST0");
  tree.Link(tree.root() / "elsewhere" / "gateway", pty.path());
  const std::string names[] = {"ttyTEST0", tree.Dev() + "/serial/by-id/usb-gateway",
                               (tree.root() / "elsewhere" / "gateway").string(), pty.path()};
  DCB dcb = UnusualDcb();
  for (const std::string& written : names) {
    SCOPED_TRACE(written);
    dcb.BaudRate += 100;
    ASSERT_TRUE(Write(written, dcb));
    for (const std::string& read : names) EXPECT_TRUE(SameDcb(Read(read)->dcb, dcb)) << read;
  }
  EXPECT_TRUE(fs::exists(StoredFile(TestKey())));
  EXPECT_EQ(std::distance(fs::directory_iterator(places.storeFolder), fs::directory_iterator()), 1);

  // The device's path below the device folder names its file, as "pts/N"
  // under the system's /dev.
  fs::remove_all(places.storeFolder);
  places.devRoot = "/dev";
  ASSERT_EQ(pty.path().rfind("/dev/pts/", 0), 0u);
  ASSERT_TRUE(Write(names[1], dcb));
  EXPECT_TRUE(fs::exists(StoredFile("pts%2F" + pty.path().substr(std::strlen("/dev/pts/")))));
}

// Nodes below the device folder have files of their own, also where one
// node's name looks like another's escaped path.
TEST_F(CommConfigStore, NodesBelowTheDeviceFolderHaveFilesOfTheirOwn) {
  if (!Node(tree.dev() / "pts" / "7") || !Node(tree.dev() / "pts%2F7")) GTEST_SKIP() << kNoNodes;
  DCB a = UnusualDcb();
  DCB b = UnusualDcb();
  b.BaudRate = 300;
  ASSERT_TRUE(Write(tree.Dev() + "/pts/7", a));
  ASSERT_TRUE(Write("pts%2F7", b));
  EXPECT_TRUE(SameDcb(Read(tree.Dev() + "/pts/7")->dcb, a));
  EXPECT_TRUE(SameDcb(Read("pts%2F7")->dcb, b));
  EXPECT_TRUE(fs::exists(StoredFile("pts%2F7")));
  EXPECT_TRUE(fs::exists(StoredFile("pts%252F7")));
}

// Only a terminal has a default: what the tty layer serves, without the
// entries that stand for another terminal or make a new one (/dev/tty,
// /dev/ptmx). Nothing is written for any other name.
TEST_F(CommConfigStore, NamesThatLeadToNoTerminalAreRefusedAndNothingIsWritten) {
  tree.File(tree.dev() / "notes.txt", "not a device");
  tree.Link(tree.dev() / "null", "/dev/null");
  tree.Link(tree.dev() / "ttyGONE0", "ttyMISSING0");
  struct Case {
    std::string name;
    int error;
  };
  const Case cases[] = {
      {"", EINVAL},
      {std::string("ttyTEST0\0x", 10), EINVAL},
      {"ttyMISSING0", ENOENT},
      {"ttyGONE0", ENOENT},  // a dangling link
      {tree.Dev() + "/ttyMISSING0", ENOENT},
      {"notes.txt", ENOTTY},
      {"pts", ENOTTY},  // a folder
      {".", ENOTTY},
      {"..", ENOTTY},
      {"null", ENOTTY},
      {"/dev/null", ENOTTY},
      {"/dev/tty", ENOTTY},
      {"/dev/ptmx", ENOTTY},
  };
  const auto before = AllFiles();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::SetLastError(0);
    EXPECT_FALSE(Read(c.name));
    EXPECT_EQ(platform::GetLastError(), c.error);
    platform::SetLastError(0);
    EXPECT_FALSE(Write(c.name, UnusualDcb()));
    EXPECT_EQ(platform::GetLastError(), c.error);
  }
  EXPECT_EQ(AllFiles(), before);
}

// Terminals are told by the device numbers the tty layer lists for its
// drivers: one minor number or a range, "system" entries left out.
TEST_F(CommConfigStore, TerminalsAreTheDevicesTheTtyLayerListsForItsDrivers) {
  struct stat null {};
  ASSERT_EQ(::stat("/dev/null", &null), 0);
  const std::string number = std::to_string(major(null.st_rdev)) + " ";
  const unsigned minorNumber = minor(null.st_rdev);
  const std::string header = "pty_slave            /dev/pts      136 0-1048575 pty:slave\n";
  struct Case {
    std::string list;
    bool terminal;
  };
  const Case cases[] = {
      {header + "test /dev/ttyT " + number + std::to_string(minorNumber) + " serial\n", true},
      {header + "test /dev/ttyT " + number + "0-" + std::to_string(minorNumber + 1) + " serial\n", true},
      {header + "test /dev/ttyT " + number + std::to_string(minorNumber + 1) + "-300 serial\n", false},
      {header + "test /dev/ttyT " + number + std::to_string(minorNumber) + " system:/dev/null\n", false},
      {header, false},
  };
  places.ttyDrivers = (tree.root() / "drivers").string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    tree.File(places.ttyDrivers, c.list);
    platform::SetLastError(0);
    EXPECT_EQ(Read("/dev/null").has_value(), c.terminal);
    if (!c.terminal) EXPECT_EQ(platform::GetLastError(), ENOTTY);
  }
  fs::remove(places.ttyDrivers);
  EXPECT_FALSE(Read("ttyTEST0"));
  EXPECT_EQ(platform::GetLastError(), ENOENT);
}

// Device nodes whose names are as long as a file name in the store can
// be: storing must take every name that reading takes, its temporary file
// included. (The nodes are the test's own pseudo-terminal under long
// names, which takes the right to make device nodes.)
TEST_F(CommConfigStore, EveryNameThatCanBeReadCanBeStored) {
  for (const std::size_t length : {240, 246, 248, 250, 251, 255}) {
    SCOPED_TRACE(length);
    const std::string name(length, 'n');
    if (!Node(tree.dev() / name)) GTEST_SKIP() << kNoNodes;
    const bool readable = Read(name).has_value();
    EXPECT_EQ(readable, length + std::strlen(".conf") <= NAME_MAX);
    EXPECT_EQ(Write(name, UnusualDcb()), readable);
    if (readable) EXPECT_TRUE(SameDcb(Read(name)->dcb, UnusualDcb()));
  }
}

TEST_F(CommConfigStore, RecordSizesBelowTheRecordAreRefused) {
  COMMCONFIG config = platform::BuiltInCommConfig();
  uint32_t size = platform::kCommConfigSize - 1;
  EXPECT_FALSE(platform::GetDefaultCommConfig("ttyTEST0", config, size, places));
  EXPECT_EQ(platform::GetLastError(), ENOBUFS);
  EXPECT_EQ(size, platform::kCommConfigSize);  // the room needed

  EXPECT_FALSE(platform::SetDefaultCommConfig("ttyTEST0", config, platform::kCommConfigSize - 1, places));
  EXPECT_EQ(platform::GetLastError(), EINVAL);
  config.dwSize = 0;
  EXPECT_FALSE(platform::SetDefaultCommConfig("ttyTEST0", config, platform::kCommConfigSize, places));
  EXPECT_EQ(platform::GetLastError(), EINVAL);
  EXPECT_FALSE(fs::exists(places.storeFolder));
}

// A file the store did not write counts as nothing stored, so that the
// next store repairs it; a missing field keeps its default and an unknown
// key (a later version's) is skipped.
TEST_F(CommConfigStore, StoredFilesAreTakenOnlyWhenTheyAreTheStoresOwn) {
  const DCB builtIn = platform::BuiltInCommConfig().dcb;
  DCB only1200 = builtIn;
  only1200.BaudRate = 1200;
  struct Case {
    const char* what;
    std::string text;
    DCB expected;
  };
  const Case cases[] = {
      {"only one field, blanks and comments", "# note\n\n  BaudRate = 1200 \r\n", only1200},
      {"an unknown key", "BaudRate=1200\nLineDriver=7\n", only1200},
      {"empty", "", builtIn},
      {"a line without '='", "BaudRate=1200\ngarbage\n", builtIn},
      {"not a number", "BaudRate=fast\n", builtIn},
      {"a sign", "BaudRate=-1200\n", builtIn},
      {"trailing text", "BaudRate=1200x\n", builtIn},
      {"no value", "BaudRate=\n", builtIn},
      {"wider than its field", "ByteSize=256\n", builtIn},
      {"wider than 32 bits", "BaudRate=4294967296\n", builtIn},
      {"a field twice", "BaudRate=1200\nBaudRate=2400\n", builtIn},
      {"larger than any stored file", "BaudRate=1200\n" + std::string(64 * 1024, '#'), builtIn},
      {"cut mid-number", "BaudRate=11520", builtIn},
      {"cut after a whole field", "BaudRate=1200\nByteSize=7", builtIn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(TestKey(), c.text);
    const auto config = Read("ttyTEST0");
    ASSERT_TRUE(config);
    EXPECT_TRUE(SameDcb(config->dcb, c.expected));
  }
  ASSERT_TRUE(Write("ttyTEST0", UnusualDcb()));
  EXPECT_TRUE(SameDcb(Read("ttyTEST0")->dcb, UnusualDcb()));
}

// Values no serial device takes: the store refuses them, and a file that
// holds one is not the store's. The edges of each range are taken.
TEST_F(CommConfigStore, ValuesNoSerialDeviceTakesAreNeitherStoredNorRead) {
  struct Case {
    const char* what;
    std::string text;
    void (*apply)(DCB&);
  };
  const Case cases[] = {
      {"no rate", "BaudRate=0\n", [](DCB& d) { d.BaudRate = 0; }},
      {"no data bits", "ByteSize=0\n", [](DCB& d) { d.ByteSize = 0; }},
      {"four data bits", "ByteSize=4\n", [](DCB& d) { d.ByteSize = 4; }},
      {"nine data bits", "ByteSize=9\n", [](DCB& d) { d.ByteSize = 9; }},
      {"parity 9", "Parity=9\n", [](DCB& d) { d.Parity = 9; }},
      {"parity 5", "Parity=5\n", [](DCB& d) { d.Parity = 5; }},
      {"stop bits 7", "StopBits=7\n", [](DCB& d) { d.StopBits = 7; }},
      {"stop bits 3", "StopBits=3\n", [](DCB& d) { d.StopBits = 3; }},
      {"no DTR mode", "Flags=" + std::to_string(platform::fBinary | platform::fDtrControlMask) + "\n",
       [](DCB& d) { d.Flags |= platform::fDtrControlMask; }},
      {"one character for XON and XOFF",
       "Flags=" + std::to_string(platform::fBinary | platform::fOutX) + "\nXonChar=19\n",
       [](DCB& d) {
         d.Flags |= platform::fOutX;
         d.XonChar = d.XoffChar;
       }},
  };
  const DCB builtIn = platform::BuiltInCommConfig().dcb;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(places.storeFolder);
    DCB bad = UnusualDcb();
    c.apply(bad);
    platform::SetLastError(0);
    EXPECT_FALSE(Write("ttyTEST0", bad));
    EXPECT_EQ(platform::GetLastError(), EINVAL);
    EXPECT_FALSE(fs::exists(StoredFile(TestKey())));

    Store(TestKey(), c.text);
    const auto config = Read("ttyTEST0");
    ASSERT_TRUE(config);
    EXPECT_TRUE(SameDcb(config->dcb, builtIn));
  }
  Store(TestKey(), "BaudRate=1\nByteSize=5\nParity=4\nStopBits=1\n");
  DCB edges = builtIn;
  edges.BaudRate = 1;
  edges.ByteSize = 5;
  edges.Parity = 4;
  edges.StopBits = 1;
  EXPECT_TRUE(SameDcb(Read("ttyTEST0")->dcb, edges));
}

// The store writes nothing but regular files, and its rename replaces a
// FIFO or a link planted in a device's place: such an entry counts as
// nothing stored. It is never read through (no writer would leave a FIFO
// blocking the read for ever; a link leads elsewhere) and the next store
// replaces it, leaving the link's target alone.
TEST_F(CommConfigStore, AFifoOrALinkInPlaceOfTheFileCountsAsNothingStored) {
  const fs::path elsewhere = tree.root() / "elsewhere.conf";
  const std::string elsewhereText = "BaudRate=1200\n";
  std::ofstream(elsewhere) << elsewhereText;
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> plant;
  };
  const Case cases[] = {
      {"a FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"a link to a file", [&](const fs::path& p) { fs::create_symlink(elsewhere, p); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(places.storeFolder);
    fs::create_directories(places.storeFolder);
    c.plant(StoredFile(TestKey()));
    const auto config = Read("ttyTEST0");
    ASSERT_TRUE(config);
    EXPECT_TRUE(SameDcb(config->dcb, platform::BuiltInCommConfig().dcb));

    ASSERT_TRUE(Write("ttyTEST0", UnusualDcb()));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(StoredFile(TestKey()))));
    EXPECT_TRUE(SameDcb(Read("ttyTEST0")->dcb, UnusualDcb()));
  }
  std::ifstream in(elsewhere);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), elsewhereText);
}

TEST_F(CommConfigStore, AStoredFileThatCannotBeReadFailsTheRead) {
  fs::create_directories(StoredFile(TestKey()));  // a folder in its place
  EXPECT_FALSE(Read("ttyTEST0"));
  EXPECT_EQ(platform::GetLastError(), EISDIR);
}

// The per-user folder follows the configuration-folder rules of the
// desktop: an absolute XDG_CONFIG_HOME, else ~/.config.
TEST(CommConfigFolder, FollowsTheUsersConfigurationFolder) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::optional<std::string> savedXdg = oldXdg ? std::optional<std::string>(oldXdg) : std::nullopt;
  const std::optional<std::string> savedHome = oldHome ? std::optional<std::string>(oldHome) : std::nullopt;

  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(platform::DefaultCommConfigFolder(), "/tmp/xdg/comport/defaults");
  ::setenv("XDG_CONFIG_HOME", "relative/xdg", 1);  // not absolute: ignored
  EXPECT_EQ(platform::DefaultCommConfigFolder(), "/home/someone/.config/comport/defaults");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(platform::DefaultCommConfigFolder(), "/home/someone/.config/comport/defaults");

  if (savedXdg) ::setenv("XDG_CONFIG_HOME", savedXdg->c_str(), 1);
  if (savedHome)
    ::setenv("HOME", savedHome->c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
