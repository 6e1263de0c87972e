// Writing a whole buffer to a file descriptor.
#pragma once

#include <cstddef>

namespace platform {

// Writes all 'size' bytes, going on after interruptions and short writes.
// False on failure, with errno telling why; 'written' (when given) tells how
// many bytes went out all the same.
bool WriteAll(int fd, const void* data, std::size_t size, std::size_t* written = nullptr);

}  // namespace platform
