#include "platform/windows/Registry.h"

#include <cstring>

namespace platform::win {

namespace {

// Tries a value whose size keeps changing under the reader no more often.
constexpr int kReadAttempts = 8;
// Value names are at most 16383 characters long.
constexpr size_t kLongestValueName = 16384;

}  // namespace

RegistryKey::RegistryKey(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS) key_ = key;
}

RegistryKey::~RegistryKey() {
  if (key_) ::RegCloseKey(key_);
}

std::optional<std::string> ReadTextValue(HKEY key, const char* name) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
      return std::nullopt;
    // One byte more than asked for: the stored text need not end in a NUL.
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    DWORD got = size;
    const LONG status =
        ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (status == ERROR_MORE_DATA) continue;  // it grew in between
    if (status != ERROR_SUCCESS || type != REG_SZ || got > size) return std::nullopt;
    return std::string(buffer.data(), ::strnlen(buffer.data(), got));
  }
  return std::nullopt;
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  DWORD longest = 0;
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
    return names;
  std::vector<char> name(static_cast<size_t>(longest) + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG status = ::RegEnumValueA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA && name.size() <= kLongestValueName) {
      // A longer name came in between: make room and read the same index.
      name.resize(name.size() * 2);
      --index;
      continue;
    }
    if (status != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or a key that went
    names.emplace_back(name.data(), length);
  }
  return names;
}

}  // namespace platform::win
