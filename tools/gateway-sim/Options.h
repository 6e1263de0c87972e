// The simulator's command line.
#pragma once

#include <string>
#include <vector>

#include "Gateway.h"

namespace gwsim {

enum class LinkMode {
  Automatic,  // as root /dev/ttyGW<first free n>, otherwise none
  Path,       // at the given path
  None,       // never
};

struct Options {
  LinkMode linkMode = LinkMode::Automatic;
  std::string linkPath;
  Gains gains;
  Behaviour behaviour;
  int delayMs = 0;     // before each reply
  bool split = false;  // one byte per write
  bool help = false;
};

struct ParsedOptions {
  Options options;
  std::string error;  // empty when the command line is valid
};

// Reads the arguments after the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string UsageText();

}  // namespace gwsim
