// Appending one entry to a log file that is opened, appended to and closed
// again for every entry.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Appends the 'size' bytes at 'entry' to the file at 'path' (a path in the
// system's 8-bit encoding), making the file when it is missing. Only a
// regular file is written: a link at 'path' is never followed (nothing is
// made or written where it leads), and a FIFO, a device or a folder in its
// place neither blocks the caller nor receives anything. An entry that
// cannot be written whole (a full disk, a size limit) is taken back, as
// long as it is still the end of the file, so the file never ends in a
// partial entry. The entry goes out in one append, so entries of two
// threads never interleave. False on failure, with the system's code in
// the last error (LastError.h): on Linux ELOOP for a link, ENXIO for a FIFO
// nobody reads, EINVAL for anything else that is no regular file; on
// Windows ERROR_CANT_RESOLVE_FILENAME for a link (a reparse point),
// ERROR_INVALID_PARAMETER for a device, a pipe or another file that is not
// on a disk, ERROR_ACCESS_DENIED for a folder; else what the system said.
bool AppendLogEntry(const std::string& path, const void* entry, std::size_t size);

}  // namespace platform
