#include "app/GatewayProtocol.h"

#include <cstdio>

namespace {

constexpr std::string_view kStatusPrefix = "+KVWSTS1=";

// White space as the C library's isspace sees it in the "C" locale.
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ','; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class TFieldReader {
 public:
  explicit TFieldReader(std::string_view text) : text_(text) {}

  void SkipSeparators() {
    while (pos_ < text_.size() && IsSeparator(text_[pos_])) ++pos_;
  }

  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  // value * 10 + digit over a run of digits, in unsigned arithmetic so an
  // overlong run wraps instead of overflowing.
  std::uint32_t Digits() {
    std::uint32_t value = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) value = value * 10u + static_cast<std::uint32_t>(text_[pos_++] - '0');
    return value;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string FormatGatewayCommand(std::uint32_t code, int receiveGain, int transmitGain, int talkAroundGain) {
  char text[256] = {};
  if (code == CmdWriteLevels)
    std::snprintf(text, sizeof text, "AT+KVWCMD1=%d,%d,%d,%d\r", static_cast<int>(code), receiveGain, transmitGain,
                  talkAroundGain);
  else
    std::snprintf(text, sizeof text, "AT+KVWCMD1=%d\r", static_cast<int>(code));
  return text;
}

TReplyLine ParseReplyLine(std::string_view line) {
  TReplyLine reply;
  if (line.substr(0, 2) == "OK") {
    reply.Kind = TReplyKind::Ok;
    return reply;
  }
  if (line.substr(0, kStatusPrefix.size()) != kStatusPrefix) return reply;
  reply.Kind = TReplyKind::Status;
  TFieldReader reader(line.substr(kStatusPrefix.size()));
  reader.SkipSeparators();
  reply.Fields[0] = static_cast<std::int32_t>(reader.Digits());
  for (std::size_t i = 1; i < reply.Fields.size(); ++i) {
    reader.SkipSeparators();
    const bool negative = reader.Take('-');
    if (!negative) reader.Take('+');
    const std::uint32_t magnitude = reader.Digits();
    reply.Fields[i] = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
  }
  return reply;
}
