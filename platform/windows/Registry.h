// Reading the registry for the device lists: text values only, read in
// full however long they are.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::win {

// A registry key open for reading, closed with the object.
class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(HKEY key) : key_(key) {}
  // Opens 'path' under 'root' for reading; an invalid key when it cannot.
  RegistryKey(HKEY root, const char* path);
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  RegistryKey& operator=(RegistryKey&&) = delete;
  RegistryKey(const RegistryKey&) = delete;

  bool valid() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The text of the value 'name' when it is a plain string (REG_SZ), up to
// its first NUL; nothing when it is missing, of another type or cannot be
// read.
std::optional<std::string> ReadTextValue(HKEY key, const char* name);

// The names of the values of 'key', in the order the registry gives them.
std::vector<std::string> ValueNames(HKEY key);

}  // namespace platform::win
