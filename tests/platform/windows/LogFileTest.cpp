// Appending log entries on Windows: whole entries at the end of a regular
// disk file, nothing else written, opened or followed.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "platform/LastError.h"
#include "platform/LogFile.h"
#include "platform/windows/LogFileInternal.h"

namespace {

std::string Native(const QString& path) { return QDir::toNativeSeparators(path).toStdString(); }

QByteArray Content(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool Append(const QString& path, const QByteArray& entry) {
  return platform::AppendLogEntry(Native(path), entry.constData(), static_cast<std::size_t>(entry.size()));
}

TEST(LogFile, AMissingFileIsMadeAndAnExistingOneAppendedTo) {
  QTemporaryDir dir;
  const QString path = dir.filePath("port.log");
  ASSERT_TRUE(Append(path, "one\r\n"));
  ASSERT_TRUE(Append(path, "two\r\n"));
  EXPECT_EQ(Content(path), "one\r\ntwo\r\n");

  // Written meanwhile by someone else, through a handle of its own: kept.
  {
    QFile other(path);
    ASSERT_TRUE(other.open(QIODevice::Append));
    other.write("other\r\n");
  }
  ASSERT_TRUE(Append(path, "three\r\n"));
  EXPECT_EQ(Content(path), "one\r\ntwo\r\nother\r\nthree\r\n");

  // A file's path in the long form is still a file's.
  ASSERT_TRUE(platform::AppendLogEntry("\\\\?\\" + Native(path), "four\r\n", 6));
  EXPECT_TRUE(Content(path).endsWith("three\r\nfour\r\n"));
}

// A folder, a device or a pipe in the log's place is refused and receives
// nothing; a device name is not even opened (the machine's own ports are
// masked in the test run; the pipe's server would see a client).
TEST(LogFile, WhatIsNoRegularDiskFileIsRefused) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  const std::string pipeName = "\\\\.\\pipe\\ql75n-log-test-" + std::to_string(::GetCurrentProcessId());
  HANDLE pipe = ::CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  struct Case {
    const char* what;
    std::string path;
    int code;
  };
  const Case cases[] = {
      {"folder", Native(dir.filePath("folder")), ERROR_ACCESS_DENIED},
      {"the null device", "NUL", ERROR_INVALID_PARAMETER},
      {"a reserved name in a folder", Native(dir.filePath("COM1")), ERROR_INVALID_PARAMETER},
      {"a serial port by its device path", "\\\\.\\COM1", ERROR_INVALID_PARAMETER},
      {"a serial port by its long path", "\\\\?\\COM1", ERROR_INVALID_PARAMETER},
      {"a named pipe", pipeName, ERROR_INVALID_PARAMETER},
      {"no name", "", ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::SetLastError(0);
    EXPECT_FALSE(platform::AppendLogEntry(c.path, "entry\r\n", 7));
    EXPECT_EQ(platform::GetLastError(), c.code);
  }
  // The pipe's server was never connected to.
  EXPECT_FALSE(::ConnectNamedPipe(pipe, nullptr));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
  ::CloseHandle(pipe);
  EXPECT_EQ(QDir(dir.filePath("folder")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// A link planted at the log's name is refused and nothing is made or
// written where it leads.
TEST(LogFile, ALinkIsNeverFollowed) {
  QTemporaryDir dir;
  const QString path = dir.filePath("port.log");
  const QString target = dir.filePath("elsewhere");
  // Wine 8 reports success and makes nothing (and follows links made on
  // the Unix side as plain files): there is no link to refuse then.
  const bool made = ::CreateSymbolicLinkA(Native(path).c_str(), Native(target).c_str(), 0);
  const DWORD attributes = ::GetFileAttributesA(Native(path).c_str());
  if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "this system makes no symbolic link here";
  platform::SetLastError(0);
  EXPECT_FALSE(Append(path, "entry\r\n"));
  EXPECT_EQ(platform::GetLastError(), ERROR_CANT_RESOLVE_FILENAME);
  EXPECT_FALSE(QFile::exists(target));
}

class HandleOf {
 public:
  explicit HandleOf(const QString& path)
      : h_(::CreateFileA(Native(path).c_str(), FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HandleOf() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

// A disk cannot be made to fill up mid-entry on demand: the steps are taken
// one by one. What an entry wrote in part is taken back while it is the
// end of the file, and only then.
TEST(LogFile, APartOfAnEntryIsTakenBackWhileItIsTheEnd) {
  QTemporaryDir dir;
  const QString path = dir.filePath("port.log");
  ASSERT_TRUE(Append(path, "first\r\n"));
  {
    HandleOf file(path);
    ASSERT_TRUE(platform::IsRegularDiskFile(file.Get()));
    std::size_t written = 0;
    ASSERT_TRUE(platform::AppendAtEnd(file.Get(), "partial", 7, written));
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(Content(path), "first\r\npartial");
    platform::TakeBackPartialEntry(file.Get(), written);
  }
  EXPECT_EQ(Content(path), "first\r\n");

  // Another writer's entry came after the part: nothing is taken back.
  HandleOf file(path);
  std::size_t written = 0;
  ASSERT_TRUE(platform::AppendAtEnd(file.Get(), "partial", 7, written));
  ASSERT_TRUE(Append(path, "second\r\n"));
  platform::TakeBackPartialEntry(file.Get(), written);
  EXPECT_EQ(Content(path), "first\r\npartialsecond\r\n");
}

}  // namespace
