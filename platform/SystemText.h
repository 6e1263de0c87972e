// The system's message texts as the component shows them, on every system.
#pragma once

#include <string>

namespace platform {

// 'text' without trailing blanks, full stops or control characters.
std::string TrimSystemText(std::string text);

}  // namespace platform
