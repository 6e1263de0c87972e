#include "platform/CommConfig.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/DeviceTree.h"
#include "platform/linux/FileOpen.h"
#include "platform/linux/FileWrite.h"
#include "platform/LastError.h"

namespace platform {

namespace {

constexpr const char* kStoreSubfolder = "comport/defaults";
constexpr const char* kFileSuffix = ".conf";
// A stored file is a dozen short lines; anything much larger is not ours.
constexpr std::size_t kLargestStoredFile = 16 * 1024;
// The tty layer's list of drivers has a line per driver.
constexpr std::size_t kLargestDriverList = 256 * 1024;

bool Fail(int code) {
  SetLastError(code);
  return false;
}

// One stored field of the device control block: its key, its largest
// value, and how to read and write it.
struct StoredField {
  const char* key;
  uint32_t largest;
  uint32_t (*get)(const DCB&);
  void (*set)(DCB&, uint32_t);
};

uint32_t CharValue(char c) { return static_cast<unsigned char>(c); }

constexpr uint32_t kU8 = 0xff;
constexpr uint32_t kU16 = 0xffff;
constexpr uint32_t kU32 = 0xffffffff;

const std::array<StoredField, 12> kStoredFields{{
    {"BaudRate", kU32, [](const DCB& d) { return d.BaudRate; }, [](DCB& d, uint32_t v) { d.BaudRate = v; }},
    {"ByteSize", kU8, [](const DCB& d) -> uint32_t { return d.ByteSize; },
     [](DCB& d, uint32_t v) { d.ByteSize = static_cast<uint8_t>(v); }},
    {"Parity", kU8, [](const DCB& d) -> uint32_t { return d.Parity; },
     [](DCB& d, uint32_t v) { d.Parity = static_cast<uint8_t>(v); }},
    {"StopBits", kU8, [](const DCB& d) -> uint32_t { return d.StopBits; },
     [](DCB& d, uint32_t v) { d.StopBits = static_cast<uint8_t>(v); }},
    {"Flags", kU32, [](const DCB& d) { return d.Flags; }, [](DCB& d, uint32_t v) { d.Flags = v; }},
    {"XonLim", kU16, [](const DCB& d) -> uint32_t { return d.XonLim; },
     [](DCB& d, uint32_t v) { d.XonLim = static_cast<uint16_t>(v); }},
    {"XoffLim", kU16, [](const DCB& d) -> uint32_t { return d.XoffLim; },
     [](DCB& d, uint32_t v) { d.XoffLim = static_cast<uint16_t>(v); }},
    {"XonChar", kU8, [](const DCB& d) { return CharValue(d.XonChar); },
     [](DCB& d, uint32_t v) { d.XonChar = static_cast<char>(v); }},
    {"XoffChar", kU8, [](const DCB& d) { return CharValue(d.XoffChar); },
     [](DCB& d, uint32_t v) { d.XoffChar = static_cast<char>(v); }},
    {"ErrorChar", kU8, [](const DCB& d) { return CharValue(d.ErrorChar); },
     [](DCB& d, uint32_t v) { d.ErrorChar = static_cast<char>(v); }},
    {"EofChar", kU8, [](const DCB& d) { return CharValue(d.EofChar); },
     [](DCB& d, uint32_t v) { d.EofChar = static_cast<char>(v); }},
    {"EvtChar", kU8, [](const DCB& d) { return CharValue(d.EvtChar); },
     [](DCB& d, uint32_t v) { d.EvtChar = static_cast<char>(v); }},
}};

// The store's file name for a device key: '%' and '/' escaped, so every
// key has a file name of its own and none leaves the folder.
std::string StoreFileName(const std::string& key) {
  std::string name;
  for (const char c : key) {
    if (c == '%')
      name += "%25";
    else if (c == '/')
      name += "%2F";
    else
      name += c;
  }
  return name + kFileSuffix;
}

std::string StoreFolder(const CommConfigPlaces& places) {
  return places.storeFolder.empty() ? DefaultCommConfigFolder() : places.storeFolder;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<uint32_t> ParseValue(std::string_view text, uint32_t largest) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value > largest)
    return std::nullopt;
  return static_cast<uint32_t>(value);
}

// The stored text over 'dcb': whole lines (the store ends every line, so a
// file cut short lacks the final newline), every known field at most once
// and within its range, unknown keys skipped (a later version may add some),
// and a block a serial device takes. Nullopt when the text is not such a
// file.
std::optional<DCB> ParseStored(std::string_view text, DCB dcb) {
  if (!text.empty() && text.back() != '\n')
    return std::nullopt;
  std::array<bool, kStoredFields.size()> seen{};
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#')
      continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      return std::nullopt;
    const std::string_view key = Trimmed(line.substr(0, equals));
    for (std::size_t i = 0; i < kStoredFields.size(); ++i) {
      if (key != kStoredFields[i].key)
        continue;
      const auto value = ParseValue(Trimmed(line.substr(equals + 1)), kStoredFields[i].largest);
      if (!value || seen[i])
        return std::nullopt;
      seen[i] = true;
      kStoredFields[i].set(dcb, *value);
    }
  }
  if (!IsValidDcb(dcb))
    return std::nullopt;
  return dcb;
}

std::string StoredText(const DCB& dcb) {
  std::string text = "# Default configuration of a serial device\n";
  for (const StoredField& field : kStoredFields)
    text += std::string(field.key) + "=" + std::to_string(field.get(dcb)) + "\n";
  return text;
}

// Reads a whole regular file of at most 'limit' bytes, never blocking on
// a FIFO nor following a link (FileOpen.h); an empty optional with the
// last error set when it cannot be read, "too large" as EFBIG, a folder as
// EISDIR.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) {
    const int code = errno;
    std::error_code error;
    const bool folder = code == EINVAL && std::filesystem::is_directory(std::filesystem::symlink_status(path, error));
    SetLastError(folder ? EISDIR : code);
    return std::nullopt;
  }
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > limit) {
      SetLastError(n < 0 ? errno : EFBIG);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0)
      break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// Makes the entries of 'folder' durable (a rename into it included).
bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return Fail(errno);
  const bool synced = ::fsync(fd) == 0;
  const int code = errno;
  ::close(fd);
  return synced || Fail(code);
}

// Whether the tty layer serves the character device 'number', by its list
// of drivers: "<driver> <node> <major> <minor>[-<last minor>] <type>" a
// line. The "system" entries (/dev/tty, /dev/console, /dev/ptmx, the
// current console) are left out: each stands for another terminal or makes
// a new one, so no default of its own belongs to it. Fails with ENOTTY, or
// with the system's code when the list cannot be read.
bool CheckTerminal(dev_t number, const std::string& drivers) {
  const auto text = ReadSmallFile(drivers, kLargestDriverList);
  if (!text)
    return false;
  std::istringstream list(*text);
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string driver, node, minors, type;
    unsigned majorNumber = 0, first = 0, last = 0;
    if (!(fields >> driver >> node >> majorNumber >> minors >> type) || type.starts_with("system"))
      continue;
    const int parsed = std::sscanf(minors.c_str(), "%u-%u", &first, &last);
    if (parsed < 2)
      last = first;
    if (parsed >= 1 && major(number) == majorNumber && minor(number) >= first && minor(number) <= last)
      return true;
  }
  return Fail(ENOTTY);
}

// The device a name leads to, with every link resolved: a name without a
// '/' is a node in the device folder, any other a path as given. Looked
// at, never opened (that would raise a real port's lines and be refused
// while the port holds it); only a terminal is kept.
std::optional<std::filesystem::path> DeviceOf(const std::string& name, const CommConfigPlaces& places) {
  if (name.empty() || name.find('\0') != std::string::npos) {
    SetLastError(EINVAL);
    return std::nullopt;
  }
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(devtree::DevicePath(name, places.devRoot), error);
  struct stat st {};
  if (error || ::stat(device.c_str(), &st) != 0) {
    SetLastError(error ? error.value() : errno);
    return std::nullopt;
  }
  if (!S_ISCHR(st.st_mode)) {
    SetLastError(ENOTTY);
    return std::nullopt;
  }
  if (!CheckTerminal(st.st_rdev, places.ttyDrivers))
    return std::nullopt;
  return device;
}

// The file that holds the default of the device 'name' leads to. Its key
// is the device's path below the device folder ("ttyUSB0", "pts/3"), or
// its whole path for a device elsewhere: every name of one device shares
// it. Empty with the last error set when the name leads to no terminal.
std::optional<std::string> StoredFileOf(const std::string& name, const CommConfigPlaces& places) {
  const auto device = DeviceOf(name, places);
  if (!device)
    return std::nullopt;
  std::error_code error;
  const std::filesystem::path root = std::filesystem::canonical(places.devRoot, error);
  const std::filesystem::path below = error ? std::filesystem::path() : device->lexically_relative(root);
  const bool inside = !below.empty() && *below.begin() != "..";
  return StoreFileName(inside ? below.string() : device->string());
}

// Whether a stored file that could not be read ('code') counts as nothing
// stored: none there, one too large to be the store's, or an entry the
// store never makes and its rename replaces (a FIFO: EINVAL, or ENXIO for
// a socket; a link: ELOOP). Anything else, a folder among them (which no
// rename replaces), is an error: it would fail the next store as well.
bool NothingStored(int code) {
  return code == ENOENT || code == EFBIG || code == EINVAL || code == ENXIO || code == ELOOP;
}

// Writes 'text' to a new file in 'folder' and renames it to 'name', so a
// reader sees the old file or the new one, never a part of either. The new
// file's name is short and of its own (hidden, not ending in the suffix),
// so every name that fits as a stored file can be stored.
bool ReplaceFile(const std::string& folder, const std::string& name, const std::string& text) {
  const std::string path = folder + "/" + name;
  std::string temp = folder + "/.new-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0)
    return Fail(errno);
  const bool written = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  const int code = errno;
  if (::close(fd) != 0 || !written) {
    const int failure = written ? errno : code;
    ::unlink(temp.c_str());
    return Fail(failure);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int failure = errno;
    ::unlink(temp.c_str());
    return Fail(failure);
  }
  return SyncFolder(folder);
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

}  // namespace

std::string DefaultCommConfigFolder() {
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty())
      return {};
    config = home + "/.config";
  }
  return config + "/" + kStoreSubfolder;
}

COMMCONFIG BuiltInCommConfig() {
  COMMCONFIG config;
  DCB& dcb = config.dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = 0;
  dcb.StopBits = 0;
  // The tty layer raises DTR and RTS on open and has no flow control.
  dcb.Flags = fBinary | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  // XON when the input queue (4096 bytes) has drained to a quarter, XOFF
  // when only a quarter is free.
  dcb.XonLim = 1024;
  dcb.XoffLim = 1024;
  return config;
}

bool GetDefaultCommConfig(const std::string& name, COMMCONFIG& config, uint32_t& size) {
  return GetDefaultCommConfig(name, config, size, CommConfigPlaces());
}

bool GetDefaultCommConfig(const std::string& name, COMMCONFIG& config, uint32_t& size,
                          const CommConfigPlaces& places) {
  const auto file = StoredFileOf(name, places);
  if (!file)
    return false;
  if (size < kCommConfigSize) {
    size = kCommConfigSize;
    return Fail(ENOBUFS);
  }
  COMMCONFIG result = BuiltInCommConfig();
  const std::string folder = StoreFolder(places);
  if (!folder.empty()) {
    const auto text = ReadSmallFile(folder + "/" + *file, kLargestStoredFile);
    if (text) {
      if (const auto stored = ParseStored(*text, result.dcb))
        result.dcb = *stored;
    } else if (!NothingStored(GetLastError())) {
      return false;  // there is a stored file, and it cannot be read
    }
  }
  config = result;
  size = kCommConfigSize;
  return true;
}

bool SetDefaultCommConfig(const std::string& name, const COMMCONFIG& config, uint32_t size) {
  return SetDefaultCommConfig(name, config, size, CommConfigPlaces());
}

bool SetDefaultCommConfig(const std::string& name, const COMMCONFIG& config, uint32_t size,
                          const CommConfigPlaces& places) {
  const auto file = StoredFileOf(name, places);
  if (!file)
    return false;
  // What the store writes, its read takes back.
  if (size < kCommConfigSize || config.dwSize < kCommConfigSize || !IsValidDcb(config.dcb))
    return Fail(EINVAL);
  const std::string folder = StoreFolder(places);
  if (folder.empty())
    return Fail(ENOENT);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error)
    return Fail(error.value());
  return ReplaceFile(folder, *file, StoredText(config.dcb));
}

// The system has no serial configuration dialog; the component shows its
// own.
SystemCommConfigDialog ShowSystemCommConfigDialog(const std::string&, std::uintptr_t, COMMCONFIG&) {
  return SystemCommConfigDialog::kNone;
}

}  // namespace platform
