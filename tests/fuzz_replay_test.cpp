// Every seed of the fuzzers, and every input that once found a fault, runs
// through its harness in the normal test suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "harness.hpp"
#include "server/server.hpp"
#include "support/testpaths.hpp"

namespace fs = std::filesystem;

static void REPLAY(const std::string& TARGET, void (*HARNESS)(const uint8_t*, size_t)) {
  int N = 0;
  for (const char* SET : {"corpus", "regressions"}) {
    fs::path DIR = fs::path(BRASTOK_FUZZ_DIR) / SET / TARGET;
    if (!fs::exists(DIR)) {
      continue;
    }
    for (const auto& F : fs::directory_iterator(DIR)) {
      std::ifstream IN(F.path(), std::ios::binary);
      std::string D((std::istreambuf_iterator<char>(IN)), std::istreambuf_iterator<char>());
      SCOPED_TRACE(F.path().string());
      HARNESS(reinterpret_cast<const uint8_t*>(D.data()), D.size());
      N++;
    }
  }
  SC_CAPTURE = nullptr;
  SC_WARNCAPTURE = nullptr;
  EXPECT_GT(N, 0) << "no inputs for " << TARGET;
}

TEST(FuzzReplay, Datagrams) {
  REPLAY("datagrams", FUZZ_DATAGRAMS);
}
TEST(FuzzReplay, MapFiles) {
  REPLAY("mapfile", FUZZ_MAPFILE);
}
TEST(FuzzReplay, CommandLines) {
  REPLAY("cmdline", FUZZ_CMDLINE);
}
TEST(FuzzReplay, Recordings) {
  REPLAY("recording", FUZZ_RECORDING);
}
TEST(FuzzReplay, BanFiles) {
  REPLAY("banfile", FUZZ_BANFILE);
}
TEST(FuzzReplay, ConsoleInput) {
  REPLAY("console", FUZZ_CONSOLE);
}
