// Opening a file that must be a regular file (a log, a stored setting), for
// the Linux implementations.
#pragma once

#include <string>

namespace platform {

// Opens 'path' with 'flags' (O_RDONLY, O_WRONLY | O_APPEND | O_CREAT, ...)
// without blocking and without following a final symbolic link, and keeps
// it only when it is a regular file. A FIFO, a device or a link planted
// where the file is expected never blocks the caller nor sends anything
// elsewhere: opening fails (ENXIO for a FIFO nobody reads, ELOOP for a link,
// EINVAL for anything else that is not a regular file). A file made here
// gets 'mode' less the umask. The descriptor is close-on-exec and blocking
// again (for a regular file the flag changes nothing); -1 on failure, with
// errno telling why.
int OpenRegularFile(const std::string& path, int flags, unsigned mode = 0666);

}  // namespace platform
