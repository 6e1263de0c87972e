// Replays the receive-path fuzz target's seeds and saved inputs as an
// ordinary test, so what fuzzing found stays checked.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(ReceivePathFuzzReplay, SavedInputsHoldTheInvariants) {
  int replayed = 0;
  for (const char* folder : {FUZZ_INPUTS_DIR "/seeds/receive-path", FUZZ_INPUTS_DIR "/corpus/receive-path"}) {
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
      std::ifstream file(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      try {
        LLVMFuzzerTestOneInput(input.data(), input.size());
      } catch (const std::logic_error& e) {
        ADD_FAILURE() << entry.path() << ": " << e.what();
      }
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0) << "no saved input found";
}

}  // namespace
