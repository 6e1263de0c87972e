#include "platform/LogFile.h"

#include "platform/LastError.h"
#include "platform/windows/LogFileInternal.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace platform {

namespace {

// A handle closed on every path.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Keeps the system's code for the caller, never 0 for a failure.
bool Fail(DWORD code) {
  SetLastError(code != 0 ? static_cast<int>(code) : kErrorInvalidParameter);
  return false;
}

// Whether a full path names something in the device namespace ("\\.\COM1",
// "\\?\COM1", and what a reserved name such as "NUL" or "COM1" in any
// folder becomes): such a thing is never opened, since opening a device
// can change its state (a serial port raises its lines). A path in the
// long form stays a file's when it goes on with a drive ("\\?\C:\...")
// or a share ("\\?\UNC\...").
bool IsDevicePath(const std::string& path) {
  std::string full(MAX_PATH, '\0');
  DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n >= full.size()) {  // the room it needs, with its NUL
    full.resize(n);
    n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (n == 0 || n >= full.size()) return false;  // the open says what is wrong
  const std::string_view name(full.data(), n);
  if (name.starts_with("\\\\.\\")) return true;
  if (!name.starts_with("\\\\?\\")) return false;
  const std::string_view rest = name.substr(4);
  const bool drive = rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':' &&
                     rest[2] == '\\';
  const bool share = rest.size() >= 4 && ::_strnicmp(rest.data(), "UNC\\", 4) == 0;
  return !drive && !share;
}

}  // namespace

bool IsRegularDiskFile(HANDLE file) {
  if (::GetFileType(file) != FILE_TYPE_DISK) return Fail(ERROR_INVALID_PARAMETER);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return Fail(::GetLastError());
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Fail(ERROR_CANT_RESOLVE_FILENAME);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
  return true;
}

bool AppendAtEnd(HANDLE file, const char* data, std::size_t size, std::size_t& written) {
  written = 0;
  while (size > 0) {
    // Both offsets all ones: at the end of the file as it is at that moment,
    // as an append-only handle writes.
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFF;
    at.OffsetHigh = 0xFFFFFFFF;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD n = 0;
    if (!::WriteFile(file, data, chunk, &n, &at)) return Fail(::GetLastError());
    if (n == 0) return Fail(ERROR_DISK_FULL);
    data += n;
    size -= n;
    written += n;
  }
  return true;
}

void TakeBackPartialEntry(HANDLE file, std::size_t written) {
  if (written == 0) return;
  LARGE_INTEGER end{};
  LARGE_INTEGER length{};
  const LARGE_INTEGER here{};
  if (!::SetFilePointerEx(file, here, &end, FILE_CURRENT) || !::GetFileSizeEx(file, &length)) return;
  if (end.QuadPart < static_cast<LONGLONG>(written) || length.QuadPart != end.QuadPart) return;
  LARGE_INTEGER cut{};
  cut.QuadPart = end.QuadPart - static_cast<LONGLONG>(written);
  if (::SetFilePointerEx(file, cut, nullptr, FILE_BEGIN)) ::SetEndOfFile(file);
}

bool AppendLogEntry(const std::string& path, const void* entry, std::size_t size) {
  if (path.empty() || path.find('\0') != std::string::npos) return Fail(ERROR_INVALID_NAME);
  if (IsDevicePath(path)) return Fail(ERROR_INVALID_PARAMETER);
  // Opened as what is there: a link (a reparse point) is opened itself and
  // refused, never followed; nothing is made where it leads. Writing and
  // cutting back need write access; every write says "at the end".
  const FileHandle file(::CreateFileA(path.c_str(), FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) return Fail(::GetLastError());
  if (!IsRegularDiskFile(file.Get())) return false;
  std::size_t written = 0;
  if (!AppendAtEnd(file.Get(), static_cast<const char*>(entry), size, written)) {
    const int code = GetLastError();
    TakeBackPartialEntry(file.Get(), written);
    SetLastError(code);
    return false;
  }
  return true;
}

}  // namespace platform
