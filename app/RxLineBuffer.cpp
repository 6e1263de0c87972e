#include "app/RxLineBuffer.h"

#include <algorithm>
#include <cstring>

void TRxLineBuffer::Append(const char* data, std::size_t count) {
  const char* const end = data + count;
  while (data < end) {
    if (discarding_) {
      const void* lf = std::memchr(data, '\n', static_cast<std::size_t>(end - data));
      if (lf == nullptr) return;
      data = static_cast<const char*>(lf) + 1;
      discarding_ = false;
      continue;
    }
    if (RxCount == Capacity) {
      DropPartialLine();
      continue;
    }
    const std::size_t n = std::min(static_cast<std::size_t>(end - data), static_cast<std::size_t>(Capacity - RxCount));
    std::memcpy(RxBuffer.data() + RxCount, data, n);
    RxCount += static_cast<std::int32_t>(n);
    data += n;
  }
}

void TRxLineBuffer::DropPartialLine() {
  // Keep the complete lines: cut after the last LF held (nothing when there
  // is none). The line being received goes, together with its rest.
  std::int32_t keep = RxCount;
  while (keep > 0 && RxBuffer[static_cast<std::size_t>(keep - 1)] != '\n') --keep;
  RxCount = keep;
  discarding_ = true;
}

bool TRxLineBuffer::TakeLine(std::string& line) {
  const void* lf = std::memchr(RxBuffer.data(), '\n', static_cast<std::size_t>(RxCount));
  if (lf == nullptr) return false;
  const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - RxBuffer.data());
  std::size_t text = 0;
  while (text < length && RxBuffer[text] != '\r' && RxBuffer[text] != '\0') ++text;
  line.assign(RxBuffer.data(), text);
  const std::size_t used = length + 1;
  std::memmove(RxBuffer.data(), RxBuffer.data() + used, static_cast<std::size_t>(RxCount) - used);
  RxCount -= static_cast<std::int32_t>(used);
  return true;
}
