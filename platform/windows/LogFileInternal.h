// The steps of appending a log entry on Windows (LogFile.cpp), apart so
// tests can take each through what the system cannot be made to do on
// demand (a disk that fills up mid-entry).
#pragma once

#include <windows.h>

#include <cstddef>

namespace platform {

// True for a file on a disk that is neither a folder nor a reparse point
// (a link); else false with the last error set.
bool IsRegularDiskFile(HANDLE file);

// Writes all 'size' bytes at the end of the file, each write at the end as
// it is then. False on failure (last error set); 'written' tells how many
// bytes went out all the same.
bool AppendAtEnd(HANDLE file, const char* data, std::size_t size, std::size_t& written);

// Takes back the last 'written' bytes, which the handle's last write ended
// with, while they are still the end of the file: another writer's entry
// after them stays.
void TakeBackPartialEntry(HANDLE file, std::size_t written);

}  // namespace platform
