#include "Gateway.h"

#include <charconv>
#include <optional>

namespace gwsim {
namespace {

constexpr std::string_view kCommandPrefix = "AT+KVWCMD1=";
constexpr std::string_view kStatusPrefix = "+KVWSTS1=";

// The value of a number written as the tool writes it, nothing else: the
// text must be exactly what formatting the value gives back.
std::optional<int32_t> PlainNumber(std::string_view text) {
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (std::to_string(value) != text) return std::nullopt;
  return value;
}

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (;;) {
    auto comma = text.find(',');
    fields.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return fields;
    text.remove_prefix(comma + 1);
  }
}

}  // namespace

Gateway::Gateway(Gains initial, Behaviour behaviour) : gains_(initial), behaviour_(behaviour) {}

std::vector<Exchange> Gateway::Receive(std::string_view bytes) {
  std::vector<Exchange> exchanges;
  for (char byte : bytes) {
    if (byte == '\r' || byte == '\n') {
      if (!partial_.empty() && !discarding_) exchanges.push_back(Handle(partial_));
      partial_.clear();
      discarding_ = false;
    } else if (discarding_) {
      continue;
    } else if (partial_.size() == kMaxCommandLength) {
      partial_.clear();
      discarding_ = true;
    } else {
      partial_ += byte;
    }
  }
  return exchanges;
}

void Gateway::DropPartialCommand() {
  partial_.clear();
  discarding_ = false;
}

Exchange Gateway::Handle(std::string_view command) {
  Exchange exchange{Printable(command), {}};
  if (behaviour_.silent) return exchange;
  auto status = StatusLines(command);
  if (!status.empty()) exchange.reply = Frame(status);
  return exchange;
}

std::vector<std::string> Gateway::StatusLines(std::string_view command) {
  if (!command.starts_with(kCommandPrefix)) return {};
  auto fields = SplitFields(command.substr(kCommandPrefix.size()));
  auto status = std::string(kStatusPrefix);
  if (fields.size() == 1 && fields[0] == "1") {
    return {status + "1," + std::to_string(behaviour_.identity)};
  }
  if (fields.size() == 1 && fields[0] == "41") {
    return {status + "41," + std::to_string(gains_.receive) + "," +
            std::to_string(gains_.transmit) + "," + std::to_string(gains_.talkAround)};
  }
  if (fields.size() == 4 && fields[0] == "61") {
    auto receive = PlainNumber(fields[1]);
    auto transmit = PlainNumber(fields[2]);
    auto talkAround = PlainNumber(fields[3]);
    if (!receive || !transmit || !talkAround) return {};
    gains_ = {*receive, *transmit, *talkAround};
    return {status + "61"};
  }
  return {};
}

std::vector<ReplyLine> Gateway::Frame(const std::vector<std::string>& status) {
  const std::string ending = behaviour_.bareLf ? "\n" : "\r\n";
  std::vector<ReplyLine> lines;
  auto add = [&](const std::string& text) { lines.push_back({text + ending, Printable(text)}); };
  if (behaviour_.garbage) add(GarbageBytes());
  if (behaviour_.extraLines) add("+KVWINFO=ready");
  std::vector<std::string> ordered{"OK", status.front()};
  if (behaviour_.statusFirst) std::swap(ordered[0], ordered[1]);
  add(ordered[0]);
  if (behaviour_.extraLines) add("RING");
  add(ordered[1]);
  return lines;
}

// 8 to 23 bytes that never form text: bytes with the high bit set, NUL, BEL,
// ESC, DEL and CR, never an LF. Drawn from a fixed sequence, so a run is
// repeatable. The line they start cannot begin with "OK" or the status
// prefix, so the tool ignores it once the line ending arrives.
std::string Gateway::GarbageBytes() {
  static constexpr char kControls[] = {'\0', '\a', '\x1b', '\x7f', '\r'};
  auto next = [this] {
    garbageState_ ^= garbageState_ << 13;
    garbageState_ ^= garbageState_ >> 17;
    garbageState_ ^= garbageState_ << 5;
    return garbageState_;
  };
  std::string bytes(8 + next() % 16, '\0');
  for (char& byte : bytes) {
    uint32_t draw = next();
    byte = draw % 4 == 0 ? kControls[(draw >> 8) % sizeof kControls]
                         : static_cast<char>(0x80 | ((draw >> 8) & 0x7f));
  }
  return bytes;
}

std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      text += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7f) {
      text += c;
    } else {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xf];
    }
  }
  return text;
}

}  // namespace gwsim
