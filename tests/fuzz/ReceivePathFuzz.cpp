// Fuzz target for the window's receive path: arbitrary bytes, cut into
// arbitrary chunks, go through the receive buffer as the port delivers
// them, and every complete line through the reply parser.
//
// Input: records of one length byte L followed by up to L bytes of data
// (one chunk each). The complete lines are taken out after a chunk whose L
// is even, and at the end: a run of odd ones is one received-data event
// made of several reads, so any number of lines may wait to be taken.
//
// Checks: the buffer never holds more than its capacity; a line never holds
// LF, CR or NUL and has at most capacity - 1 characters; the lines equal
// those of a plain byte-by-byte model of the same rules; the parser's kind
// follows the line's prefix, and a status line rebuilt from its fields
// parses to the same fields.
//
// Built for libFuzzer by scripts/fuzz.sh; the test suite replays the saved
// inputs through the same entry point.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/GatewayProtocol.h"
#include "app/RxLineBuffer.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) throw std::logic_error(what);
}

// The receive rules one byte at a time: a line leaves the buffer at its LF;
// a line that would not fit is dropped from the buffer and its rest
// discarded up to its LF.
class TModel {
 public:
  void Append(std::string_view bytes) {
    for (const char c : bytes) {
      if (discarding_) {
        discarding_ = c != '\n';
        continue;
      }
      if (held_.size() == static_cast<std::size_t>(TRxLineBuffer::Capacity)) {
        held_.clear();
        discarding_ = c != '\n';
        continue;
      }
      if (c != '\n') {
        held_.push_back(c);
        continue;
      }
      const std::size_t end = held_.find_first_of(std::string_view("\r\0", 2));
      lines_.push_back(held_.substr(0, end));
      held_.clear();
    }
  }
  std::vector<std::string> TakeLines() { return std::exchange(lines_, {}); }
  std::size_t Held() const { return held_.size(); }

 private:
  std::string held_;
  std::vector<std::string> lines_;
  bool discarding_ = false;
};

void CheckReply(const std::string& line) {
  const TReplyLine reply = ParseReplyLine(line);
  const bool ok = line.rfind("OK", 0) == 0;
  const bool status = line.rfind("+KVWSTS1=", 0) == 0;
  Require(reply.Kind == (ok ? TReplyKind::Ok : status ? TReplyKind::Status : TReplyKind::Other), "kind");
  if (reply.Kind != TReplyKind::Status) {
    Require(reply.Fields == decltype(reply.Fields){}, "fields of a line that is no status line");
    return;
  }
  char rebuilt[96];
  std::snprintf(rebuilt, sizeof rebuilt, "+KVWSTS1=%u,%d,%d,%d", static_cast<unsigned>(reply.Fields[0]),
                reply.Fields[1], reply.Fields[2], reply.Fields[3]);
  Require(ParseReplyLine(rebuilt).Fields == reply.Fields, "status line rebuilt from its fields");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TRxLineBuffer buffer;
  TModel model;
  std::string line;
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t wanted = data[pos];
    ++pos;
    const std::size_t length = std::min(wanted, size - pos);
    const std::string_view chunk(reinterpret_cast<const char*>(data + pos), length);
    pos += length;

    buffer.Append(chunk.data(), chunk.size());
    model.Append(chunk);
    Require(buffer.Count() >= 0 && buffer.Count() <= TRxLineBuffer::Capacity, "buffer within its capacity");
    Require(static_cast<std::size_t>(buffer.Count()) == model.Held(), "bytes held as the model holds them");
    if (wanted % 2 != 0 && pos < size) continue;

    for (const std::string& expected : model.TakeLines()) {
      Require(buffer.TakeLine(line), "a line the model has");
      Require(line == expected, "the line the model has");
      Require(line.size() < static_cast<std::size_t>(TRxLineBuffer::Capacity), "line length");
      Require(line.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos, "no LF, CR or NUL in a line");
      CheckReply(line);
    }
    Require(!buffer.TakeLine(line), "no line the model lacks");
  }
  return 0;
}
