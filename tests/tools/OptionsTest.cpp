// The simulator's command line: each option's effect and clear errors.
#include <gtest/gtest.h>

#include "Options.h"

namespace gwsim {
namespace {

TEST(SimOptions, DefaultsAreAWellBehavedGatewayWithAnAutomaticLink) {
  auto [options, error] = ParseOptions({});
  EXPECT_EQ(error, "");
  EXPECT_EQ(options.linkMode, LinkMode::Automatic);
  EXPECT_EQ(options.gains, (Gains{-3, 6, 0}));
  EXPECT_EQ(options.behaviour.identity, 46186756);
  EXPECT_EQ(options.delayMs, 0);
  EXPECT_FALSE(options.split || options.help || options.behaviour.silent ||
               options.behaviour.statusFirst || options.behaviour.bareLf ||
               options.behaviour.extraLines || options.behaviour.garbage);
}

TEST(SimOptions, EveryOptionIsTaken) {
  auto [options, error] =
      ParseOptions({"--link", "/tmp/gw", "--gains", "-24,0,21", "--delay", "250", "--identity",
                    "7", "--silent", "--status-first", "--split", "--lf", "--extra", "--garbage"});
  ASSERT_EQ(error, "");
  EXPECT_EQ(options.linkMode, LinkMode::Path);
  EXPECT_EQ(options.linkPath, "/tmp/gw");
  EXPECT_EQ(options.gains, (Gains{-24, 0, 21}));
  EXPECT_EQ(options.delayMs, 250);
  EXPECT_EQ(options.behaviour.identity, 7);
  EXPECT_TRUE(options.split && options.behaviour.silent && options.behaviour.statusFirst &&
              options.behaviour.bareLf && options.behaviour.extraLines &&
              options.behaviour.garbage);
  EXPECT_EQ(ParseOptions({"--no-link"}).options.linkMode, LinkMode::None);
  EXPECT_TRUE(ParseOptions({"--help"}).options.help);
}

TEST(SimOptions, BadCommandLinesAreNamed) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  for (const auto& c : std::vector<Case>{
           {{"--gains", "1,2"}, "--gains takes three integers RX,TX,TA, not \"1,2\""},
           {{"--gains", "1,2,3,4"}, "--gains takes three integers RX,TX,TA, not \"1,2,3,4\""},
           {{"--gains", "1,,3"}, "--gains takes three integers RX,TX,TA, not \"1,,3\""},
           {{"--delay", "-1"}, "--delay takes milliseconds from 0 to 60000, not \"-1\""},
           {{"--delay", "5x"}, "--delay takes milliseconds from 0 to 60000, not \"5x\""},
           {{"--identity", "abc"}, "--identity takes an integer, not \"abc\""},
           {{"--link"}, "--link needs a value"},
           {{"--link", ""}, "--link needs a path"},
           {{"--link", "/tmp/gw", "--no-link"}, "--link and --no-link exclude each other"},
           {{"--fast"}, "unknown option \"--fast\""},
       }) {
    EXPECT_EQ(ParseOptions(c.arguments).error, c.error) << c.arguments.front();
  }
}

}  // namespace
}  // namespace gwsim
