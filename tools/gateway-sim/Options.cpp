#include "Options.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace gwsim {
namespace {

constexpr int kMaxDelayMs = 60000;

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Gains> ParseGains(std::string_view text) {
  int32_t values[3];
  for (int i = 0; i < 3; ++i) {
    auto comma = i < 2 ? text.find(',') : text.size();
    if (comma == std::string_view::npos) return std::nullopt;
    auto value = ParseNumber<int32_t>(text.substr(0, comma));
    if (!value) return std::nullopt;
    values[i] = *value;
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return Gains{values[0], values[1], values[2]};
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  Options& options = parsed.options;
  bool linkGiven = false;
  for (size_t i = 0; i < arguments.size() && parsed.error.empty(); ++i) {
    const std::string& name = arguments[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 < arguments.size()) return arguments[++i];
      parsed.error = name + " needs a value";
      return std::nullopt;
    };
    auto chooseLink = [&](LinkMode mode) {
      if (linkGiven) parsed.error = "--link and --no-link exclude each other";
      linkGiven = true;
      options.linkMode = mode;
    };
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--link") {
      auto path = value();
      if (path && path->empty()) parsed.error = "--link needs a path";
      if (path) options.linkPath = *path;
      chooseLink(LinkMode::Path);
    } else if (name == "--no-link") {
      chooseLink(LinkMode::None);
    } else if (name == "--gains") {
      if (auto text = value()) {
        auto gains = ParseGains(*text);
        if (gains) options.gains = *gains;
        else parsed.error = "--gains takes three integers RX,TX,TA, not \"" + *text + "\"";
      }
    } else if (name == "--delay") {
      if (auto text = value()) {
        auto delay = ParseNumber<int>(*text);
        if (delay && *delay >= 0 && *delay <= kMaxDelayMs) options.delayMs = *delay;
        else parsed.error = "--delay takes milliseconds from 0 to 60000, not \"" + *text + "\"";
      }
    } else if (name == "--identity") {
      if (auto text = value()) {
        auto identity = ParseNumber<int64_t>(*text);
        if (identity) options.behaviour.identity = *identity;
        else parsed.error = "--identity takes an integer, not \"" + *text + "\"";
      }
    } else if (name == "--silent") {
      options.behaviour.silent = true;
    } else if (name == "--status-first") {
      options.behaviour.statusFirst = true;
    } else if (name == "--split") {
      options.split = true;
    } else if (name == "--lf") {
      options.behaviour.bareLf = true;
    } else if (name == "--extra") {
      options.behaviour.extraLines = true;
    } else if (name == "--garbage") {
      options.behaviour.garbage = true;
    } else {
      parsed.error = "unknown option \"" + name + "\"";
    }
  }
  return parsed;
}

std::string UsageText() {
  return R"(Usage: gateway-sim [options]
A simulated QL75N gateway on a pseudo-terminal. It answers the identify,
read-levels and write-levels commands and keeps the three gains in memory.

  --link PATH      publish the terminal as a symbolic link at PATH
  --no-link        publish no link
                   (default: as root /dev/ttyGW<first free number>, else none)
  --gains RX,TX,TA initial receive, transmit and talk-around gains (-3,6,0)
  --delay MS       wait MS milliseconds before each reply (0)
  --identity N     identity value in the identify reply (46186756)
  --silent         receive commands but never answer them
  --status-first   send the status line before its OK line
  --split          write replies one byte per write
  --lf             end reply lines with LF alone (default CR LF)
  --extra          send unknown lines ("+KVWINFO=ready" before the OK,
                   "RING" between OK and status line)
  --garbage        send a line of non-text bytes (ended like the other
                   lines) before each reply
  --help           show this text

Standard output, one line each: "PTY <terminal>", "LINK <path>" when a link
was made, "READY"; then "RX <command>" for each command received and
"TX <line>" for each line sent (other bytes as \xNN). SIGINT and SIGTERM end
the simulator and remove the link.
)";
}

}  // namespace gwsim
