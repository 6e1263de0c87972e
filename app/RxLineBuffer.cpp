#include "app/RxLineBuffer.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kCapacity = TRxLineBuffer::Capacity;

}  // namespace

void TRxLineBuffer::Append(const char* data, std::size_t count) {
  const char* const end = data + count;
  while (data < end) {
    const auto* lf = static_cast<const char*>(std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
    if (discarding_) {
      if (lf == nullptr) return;
      discarding_ = false;
      data = lf + 1;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>((lf != nullptr ? lf : end) - data);
    if (length > kCapacity - partial_.size()) {
      // The line passes the buffer: it goes, and so does its rest up to its LF.
      partial_.clear();
      if (lf == nullptr) {
        discarding_ = true;
        return;
      }
      data = lf + 1;
      continue;
    }
    partial_.append(data, length);
    if (lf == nullptr) return;
    // A full buffer leaves no room for the LF: such a line does not fit either.
    if (partial_.size() < kCapacity)
      lines_.push_back(partial_.substr(0, partial_.find_first_of(std::string_view("\r\0", 2))));
    partial_.clear();
    data = lf + 1;
  }
}

bool TRxLineBuffer::TakeLine(std::string& line) {
  if (lines_.empty()) return false;
  line = std::move(lines_.front());
  lines_.pop_front();
  return true;
}

void TRxLineBuffer::Clear() {
  partial_.clear();
  lines_.clear();
  discarding_ = false;
}
