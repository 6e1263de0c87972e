#include "platform/DeviceTree.h"

#include <cctype>
#include <fstream>

namespace platform::devtree {

namespace fs = std::filesystem;

namespace {

// Longest chain of links followed from a /dev entry; longer chains are loops.
constexpr int kMaxLinkHops = 40;

}  // namespace

bool IsBelow(const fs::path& path, const fs::path& base) {
  const fs::path rel = path.lexically_relative(base);
  return !rel.empty() && rel != "." && *rel.begin() != "..";
}

std::optional<fs::path> ResolveWithin(const fs::path& link, const fs::path& devRoot) {
  std::error_code ec;
  fs::path current = link;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    if (!fs::is_symlink(current, ec)) {
      const fs::path real = fs::canonical(link, ec);
      if (ec || real != current) return std::nullopt;
      return current;
    }
    fs::path target = fs::read_symlink(current, ec);
    if (ec) return std::nullopt;
    if (target.is_relative()) target = current.parent_path() / target;
    target = target.lexically_normal();
    if (!IsBelow(target, devRoot)) return std::nullopt;
    current = target;
  }
  return std::nullopt;
}

std::optional<std::string> ReadAttribute(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  if (in.bad()) return std::nullopt;
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

std::optional<fs::path> UsbDeviceAbove(const fs::path& device, const fs::path& sysRoot) {
  std::error_code ec;
  for (fs::path p = device; IsBelow(p, sysRoot); p = p.parent_path())
    if (fs::exists(p / "idVendor", ec)) return p;
  return std::nullopt;
}

}  // namespace platform::devtree
