// The simulated gateway's command handling: what it answers, what it leaves
// unanswered, and how the framing options shape the reply bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Gateway.h"

namespace gwsim {
namespace {

struct Fed {
  std::vector<std::string> commands;
  std::string wire;  // every reply line, in order
};

Fed Feed(Gateway& gateway, const std::vector<std::string>& chunks) {
  Fed fed;
  for (const auto& chunk : chunks) {
    for (auto& exchange : gateway.Receive(chunk)) {
      fed.commands.push_back(exchange.command);
      for (auto& line : exchange.reply) fed.wire += line.wire;
    }
  }
  return fed;
}

const std::string kIdentifyReply = "OK\r\n+KVWSTS1=1,46186756\r\n";
const Gains kDefault{-3, 6, 0};

struct CommandCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> commands;  // as logged
  std::string wire;
  Gains gainsAfter;
};

class GatewayCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(GatewayCommands, AnswersTheKnownCommandsAndOnlyThose) {
  const auto& c = GetParam();
  Gateway gateway;
  Fed fed = Feed(gateway, c.chunks);
  EXPECT_EQ(fed.commands, c.commands);
  EXPECT_EQ(fed.wire, c.wire);
  EXPECT_EQ(gateway.CurrentGains(), c.gainsAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GatewayCommands,
    ::testing::Values(
        CommandCase{"Identify", {"AT+KVWCMD1=1\r"}, {"AT+KVWCMD1=1"}, kIdentifyReply, kDefault},
        CommandCase{"ReadLevels",
                    {"AT+KVWCMD1=41\r"},
                    {"AT+KVWCMD1=41"},
                    "OK\r\n+KVWSTS1=41,-3,6,0\r\n",
                    kDefault},
        CommandCase{"WriteStoresWhatTheNextReadReturns",
                    {"AT+KVWCMD1=61,-24,0,21\r", "AT+KVWCMD1=41\r"},
                    {"AT+KVWCMD1=61,-24,0,21", "AT+KVWCMD1=41"},
                    "OK\r\n+KVWSTS1=61\r\nOK\r\n+KVWSTS1=41,-24,0,21\r\n",
                    {-24, 0, 21}},
        CommandCase{"CommandSplitOverReadsAndEndedByCrLf",
                    {"AT+KV", "WCMD", "1=1", "\r", "\n"},
                    {"AT+KVWCMD1=1"},
                    kIdentifyReply,
                    kDefault},
        CommandCase{"BareLfEndsACommandToo",
                    {"AT+KVWCMD1=1\nAT+KVWCMD1=1\r"},
                    {"AT+KVWCMD1=1", "AT+KVWCMD1=1"},
                    kIdentifyReply + kIdentifyReply,
                    kDefault},
        CommandCase{"UnendedCommandWaitsForItsCr", {"AT+KVWCMD1=1"}, {}, "", kDefault},
        CommandCase{"UnknownAndMalformedCommandsAreLoggedAndIgnored",
                    {"AT+KVWCMD1=2\r", "at+kvwcmd1=1\r", "AT+KVWCMD1=1 \r", "AT+KVWCMD1=01\r",
                     "AT+KVWCMD1=61,1,2\r", "AT+KVWCMD1=61,1,2,3,4\r", "AT+KVWCMD1=61,+3,6,0\r",
                     "AT+KVWCMD1=61,03,6,0\r", "AT+KVWCMD1=61,-0,6,0\r",
                     "AT+KVWCMD1=61,3,,0\r", "AT+KVWCMD1=61,9999999999,0,0\r",
                     "AT\x01\\\xff\r"},
                    {"AT+KVWCMD1=2", "at+kvwcmd1=1", "AT+KVWCMD1=1 ", "AT+KVWCMD1=01",
                     "AT+KVWCMD1=61,1,2", "AT+KVWCMD1=61,1,2,3,4", "AT+KVWCMD1=61,+3,6,0",
                     "AT+KVWCMD1=61,03,6,0", "AT+KVWCMD1=61,-0,6,0", "AT+KVWCMD1=61,3,,0",
                     "AT+KVWCMD1=61,9999999999,0,0", "AT\\x01\\\\\\xff"},
                    "",
                    kDefault},
        CommandCase{"OverlongRunIsDroppedUpToItsLineEnd",
                    {std::string(Gateway::kMaxCommandLength + 10, 'A') + "AT+KVWCMD1=1\r",
                     "AT+KVWCMD1=1\r"},
                    {"AT+KVWCMD1=1"},
                    kIdentifyReply,
                    kDefault}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Gateway, PartialCommandIsForgottenWhenTheLineCloses) {
  Gateway gateway;
  Feed(gateway, {"AT+KVWCMD1=4"});
  gateway.DropPartialCommand();
  Fed fed = Feed(gateway, {"1\rAT+KVWCMD1=1\r"});
  EXPECT_EQ(fed.commands, (std::vector<std::string>{"1", "AT+KVWCMD1=1"}));
  EXPECT_EQ(fed.wire, kIdentifyReply);
}

Behaviour With(void (*set)(Behaviour&)) {
  Behaviour behaviour;
  set(behaviour);
  return behaviour;
}

struct FramingCase {
  const char* name;
  Behaviour behaviour;
  std::string identifyWire;
};

class GatewayFraming : public ::testing::TestWithParam<FramingCase> {};

TEST_P(GatewayFraming, ShapesTheIdentifyReply) {
  const auto& c = GetParam();
  Gateway gateway(kDefault, c.behaviour);
  Fed fed = Feed(gateway, {"AT+KVWCMD1=1\r"});
  EXPECT_EQ(fed.commands, std::vector<std::string>{"AT+KVWCMD1=1"});
  EXPECT_EQ(fed.wire, c.identifyWire);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GatewayFraming,
    ::testing::Values(
        FramingCase{"Default", {}, kIdentifyReply},
        FramingCase{"Identity", With([](Behaviour& b) { b.identity = -12; }),
                    "OK\r\n+KVWSTS1=1,-12\r\n"},
        FramingCase{"Silent", With([](Behaviour& b) { b.silent = true; }), ""},
        FramingCase{"StatusFirst", With([](Behaviour& b) { b.statusFirst = true; }),
                    "+KVWSTS1=1,46186756\r\nOK\r\n"},
        FramingCase{"BareLf", With([](Behaviour& b) { b.bareLf = true; }),
                    "OK\n+KVWSTS1=1,46186756\n"},
        FramingCase{"ExtraLines", With([](Behaviour& b) { b.extraLines = true; }),
                    "+KVWINFO=ready\r\nOK\r\nRING\r\n+KVWSTS1=1,46186756\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Gateway, SilentGatewayStoresNoWrite) {
  Gateway gateway(kDefault, With([](Behaviour& b) { b.silent = true; }));
  Fed fed = Feed(gateway, {"AT+KVWCMD1=61,0,0,0\r"});
  EXPECT_EQ(fed.commands.size(), 1u);
  EXPECT_EQ(gateway.CurrentGains(), kDefault);
}

// Every combination of the framing options, read the way the level tool reads:
// lines end at LF, the text of a line ends at its first CR or NUL. Whatever
// else is sent, the tool must still see exactly OK and the status line, in
// the configured order, for each command.
TEST(Gateway, EveryFramingStillParsesAsOkAndStatusForTheTool) {
  for (int mask = 0; mask < 16; ++mask) {
    Behaviour behaviour;
    behaviour.statusFirst = mask & 1;
    behaviour.bareLf = mask & 2;
    behaviour.extraLines = mask & 4;
    behaviour.garbage = mask & 8;
    SCOPED_TRACE("option mask " + std::to_string(mask));
    Gateway gateway(kDefault, behaviour);
    Fed fed = Feed(gateway, {"AT+KVWCMD1=1\r", "AT+KVWCMD1=41\r", "AT+KVWCMD1=61,3,3,3\r"});
    ASSERT_FALSE(fed.wire.empty());
    ASSERT_EQ(fed.wire.back(), '\n');
    std::vector<std::string> seen;
    size_t start = 0;
    for (size_t lf = fed.wire.find('\n'); lf != std::string::npos;
         start = lf + 1, lf = fed.wire.find('\n', start)) {
      std::string text = fed.wire.substr(start, lf - start);
      text = text.substr(0, text.find_first_of(std::string("\r\0", 2)));
      if (text.starts_with("OK")) seen.push_back("OK");
      if (text.starts_with("+KVWSTS1=")) seen.push_back(text);
    }
    std::vector<std::string> expected;
    for (std::string status : {"+KVWSTS1=1,46186756", "+KVWSTS1=41,-3,6,0", "+KVWSTS1=61"}) {
      if (behaviour.statusFirst) {
        expected.insert(expected.end(), {status, "OK"});
      } else {
        expected.insert(expected.end(), {"OK", status});
      }
    }
    EXPECT_EQ(seen, expected);
  }
}

TEST(Gateway, GarbageIsALineOfNonTextBytesRepeatableAcrossRuns) {
  Behaviour behaviour;
  behaviour.garbage = true;
  Gateway first(kDefault, behaviour), second(kDefault, behaviour);
  auto exchanges = first.Receive("AT+KVWCMD1=1\rAT+KVWCMD1=1\r");
  ASSERT_EQ(exchanges.size(), 2u);
  const ReplyLine& garbage = exchanges[0].reply.front();
  ASSERT_EQ(exchanges[0].reply.size(), 3u);
  EXPECT_TRUE(garbage.wire.ends_with("\r\n"));
  for (unsigned char byte : garbage.wire.substr(0, garbage.wire.size() - 2)) {
    EXPECT_TRUE(byte >= 0x80 || byte < 0x20 || byte == 0x7f) << int(byte);
    EXPECT_NE(byte, '\n');
  }
  EXPECT_EQ(garbage.text, Printable(garbage.wire.substr(0, garbage.wire.size() - 2)));
  EXPECT_NE(exchanges[1].reply.front().wire, garbage.wire);
  EXPECT_EQ(second.Receive("AT+KVWCMD1=1\r")[0].reply.front().wire, garbage.wire);
}

}  // namespace
}  // namespace gwsim
