#include "platform/SystemText.h"

namespace platform {

std::string TrimSystemText(std::string text) {
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last <= ' ' || last == '.' || last == 0x7f)
      text.pop_back();
    else
      break;
  }
  return text;
}

}  // namespace platform
