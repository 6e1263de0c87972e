// The gateway protocol alone: command texts, reply lines and the receive
// buffer that cuts bytes into lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/GatewayProtocol.h"
#include "app/RxLineBuffer.h"

namespace {

using Lines = std::vector<std::string>;

// Feeds the chunks one by one, taking the complete lines after each.
Lines Receive(const std::vector<std::string>& chunks, TRxLineBuffer& buffer) {
  Lines lines;
  std::string line;
  for (const std::string& chunk : chunks) {
    buffer.Append(chunk.data(), chunk.size());
    while (buffer.TakeLine(line)) lines.push_back(line);
  }
  return lines;
}

TEST(GatewayProtocolTest, CommandTexts) {
  EXPECT_EQ(FormatGatewayCommand(CmdIdentify, 5, 5, 5), "AT+KVWCMD1=1\r");
  EXPECT_EQ(FormatGatewayCommand(CmdReadLevels, 0, 0, 0), "AT+KVWCMD1=41\r");
  EXPECT_EQ(FormatGatewayCommand(CmdWriteLevels, -24, 0, 21), "AT+KVWCMD1=61,-24,0,21\r");
  EXPECT_EQ(FormatGatewayCommand(CmdWriteLevels, -3, 9, 0), "AT+KVWCMD1=61,-3,9,0\r");
}

// Bytes as they come from the port, through the receive buffer and the
// parser, to the kinds and fields the exchange sees.
TEST(GatewayProtocolTest, ReceivedBytesToReplies) {
  struct Reply {
    TReplyKind kind;
    std::array<std::int32_t, 4> fields;
  };
  constexpr auto Ok = TReplyKind::Ok;
  constexpr auto Status = TReplyKind::Status;
  constexpr auto Other = TReplyKind::Other;
  const struct {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<Reply> replies;
  } cases[] = {
      {"status line split over events", {"+KVWS", "TS1=41,-3", ",6,0\r", "\n"}, {{Status, {41, -3, 6, 0}}}},
      {"OK and status in one read", {"OK\r\n+KVWSTS1=1,46186756\r\n"}, {{Ok, {}}, {Status, {1, 46186756, 0, 0}}}},
      {"CR LF and bare LF alike", {"OK\n+KVWSTS1=61\n"}, {{Ok, {}}, {Status, {61, 0, 0, 0}}}},
      {"a CR ends the text of a line", {"+KVWSTS1=41,3\r,9,9\n"}, {{Status, {41, 3, 0, 0}}}},
      {"a bare CR does not end a line", {"OK\r+KVWSTS1=41,3,3,3\n"}, {{Ok, {}}}},
      {"spaces and an explicit plus", {"+KVWSTS1=41 , -24 ,+21,  0\n"}, {{Status, {41, -24, 21, 0}}}},
      {"two fields only", {"+KVWSTS1=41,3\n"}, {{Status, {41, 3, 0, 0}}}},
      {"OKAY acknowledges", {"OKAY\n"}, {{Ok, {}}}},
      {"wrong identity still parses", {"+KVWSTS1=1,46186757\n"}, {{Status, {1, 46186757, 0, 0}}}},
      {"fields after the fourth are ignored", {"+KVWSTS1=41,1,2,3,4,5\n"}, {{Status, {41, 1, 2, 3}}}},
      {"tabs and runs of commas", {"+KVWSTS1=\t41,,,-6\t,\t9\n"}, {{Status, {41, -6, 9, 0}}}},
      {"stray characters end a field", {"+KVWSTS1=41x,5\n"}, {{Status, {41, 0, 0, 0}}}},
      {"no sign on field 1", {"+KVWSTS1=-41,5\n"}, {{Status, {0, -41, 5, 0}}}},
      {"overlong numbers wrap, never fail", {"+KVWSTS1=4294967337,-4294967299\n"}, {{Status, {41, -3, 0, 0}}}},
      {"prefix is case-sensitive", {"+kvwsts1=41,3,3,3\n"}, {{Other, {}}}},
      {"lower-case ok is no acknowledgement", {"ok\n"}, {{Other, {}}}},
      {"unknown lines and empty lines", {"RING\n\n"}, {{Other, {}}, {Other, {}}}},
      {"a NUL ends the text of a line", {std::string("OK\0junk\n", 8)}, {{Ok, {}}}},
      {"a line without LF waits", {"OK\r\n+KVWSTS1=41"}, {{Ok, {}}}},
  };
  for (const auto& c : cases) {
    TRxLineBuffer buffer;
    const Lines lines = Receive(c.chunks, buffer);
    ASSERT_EQ(lines.size(), c.replies.size()) << c.what;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const TReplyLine reply = ParseReplyLine(lines[i]);
      EXPECT_EQ(reply.Kind, c.replies[i].kind) << c.what << ", line " << i;
      EXPECT_EQ(reply.Fields, c.replies[i].fields) << c.what << ", line " << i;
    }
  }
}

TEST(GatewayProtocolTest, OverlongLineIsDroppedAndReceptionGoesOn) {
  TRxLineBuffer buffer;
  // A complete line first, then 3000 bytes without LF in pieces, then the
  // rest of that line and a good status line.
  std::vector<std::string> chunks{"OK\r\n"};
  for (int i = 0; i < 12; ++i) chunks.emplace_back(250, static_cast<char>('a' + i));
  chunks.emplace_back("tail of the long line\r\n+KVWSTS1=41,3,6,9\r\n");
  std::string line;
  Lines lines;
  for (const std::string& chunk : chunks) {
    buffer.Append(chunk.data(), chunk.size());  // nothing taken until the end
    EXPECT_LE(buffer.Count(), TRxLineBuffer::Capacity);
  }
  while (buffer.TakeLine(line)) lines.push_back(line);
  EXPECT_EQ(lines, (Lines{"OK", "+KVWSTS1=41,3,6,9"}));
  EXPECT_EQ(buffer.Count(), 0);
  EXPECT_FALSE(buffer.Discarding());
}

// Lines leave the buffer as they complete: a burst of short lines longer
// than the buffer, received in one piece, loses none of them.
TEST(GatewayProtocolTest, CompleteLinesPastTheCapacityInOnePieceAreAllKept) {
  std::string burst;
  Lines expected;
  for (int i = 0; i < 80; ++i) {
    expected.push_back("+KVWURC=" + std::to_string(100 + i));
    burst += expected.back() + "\r\n";  // 13 bytes a line
  }
  burst += "OK\r\n+KVWSTS1=41,-6,9,3\r\n";
  expected.insert(expected.end(), {"OK", "+KVWSTS1=41,-6,9,3"});
  ASSERT_GT(burst.size(), static_cast<std::size_t>(TRxLineBuffer::Capacity));
  TRxLineBuffer buffer;
  buffer.Append(burst.data(), burst.size());
  Lines lines;
  std::string line;
  while (buffer.TakeLine(line)) lines.push_back(line);
  EXPECT_EQ(lines, expected);
}

TEST(GatewayProtocolTest, LineOfExactlyTheCapacityFitsOneMoreDoesNot) {
  for (const int length : {TRxLineBuffer::Capacity - 1, TRxLineBuffer::Capacity}) {
    TRxLineBuffer buffer;
    const std::string text = "+KVWSTS1=41," + std::string(static_cast<std::size_t>(length) - 12, '0');
    const Lines lines = Receive({text + "\n", "OK\n"}, buffer);
    if (length < TRxLineBuffer::Capacity)
      EXPECT_EQ(lines, (Lines{text, "OK"})) << length;
    else
      EXPECT_EQ(lines, (Lines{"OK"})) << length;
  }
}

}  // namespace
