// The options table against what is written about it: the manual page lists
// the same options in the same order with the same defaults and bounds, and
// each default is the start value of its setting.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "server/server.hpp"
#include "support/testpaths.hpp"

// The manual page's OPTIONS section: each entry's option name and its text
// with the roff markup taken out.
static std::vector<std::pair<std::string, std::string>> MANOPTIONS() {
  std::ifstream F(std::string(BRASTOK_SOURCE_DIR) + "/deploy/man/brastok_server.6");
  std::vector<std::pair<std::string, std::string>> R;
  std::string LINE;
  bool IN = false, NEXTNAMES = false;
  while (std::getline(F, LINE)) {
    if (LINE.rfind(".SH", 0) == 0) {
      IN = LINE == ".SH OPTIONS";
      continue;
    }
    if (!IN) {
      continue;
    }
    if (LINE == ".TP") {
      NEXTNAMES = true;
      continue;
    }
    LINE = std::regex_replace(LINE, std::regex(R"(\\f[RPIB]|\\\(..|^\.[A-Z]+ ?|")"), "");
    LINE = std::regex_replace(LINE, std::regex(R"(\\-)"), "-");
    if (NEXTNAMES) {
      R.push_back({LINE.substr(0, LINE.find(' ')), ""});
      NEXTNAMES = false;
    } else if (!R.empty()) {
      R.back().second += LINE + " ";
    }
  }
  return R;
}

TEST(Options, TheManualPageListsTheTable) {
  auto MAN = MANOPTIONS();
  ASSERT_EQ(MAN.size(), SV_NOPTIONS);
  for (size_t K = 0; K < SV_NOPTIONS; K++) {
    const TOPTION& O = SV_OPTIONS[K];
    SCOPED_TRACE(O.NAME);
    EXPECT_EQ(MAN[K].first, O.NAME);
    std::string TEXT = MAN[K].second;
    std::transform(TEXT.begin(), TEXT.end(), TEXT.begin(), ::tolower);
    std::string DEFAULT = O.DEFAULT;
    std::transform(DEFAULT.begin(), DEFAULT.end(), DEFAULT.begin(), ::tolower);
    EXPECT_NE(TEXT.find(DEFAULT), std::string::npos) << TEXT;
    uint32_t WIDEST = O.BYTE != nullptr ? 255u : O.WORD != nullptr ? 65535u : 0xFFFFFFFFu;
    if ((O.BYTE != nullptr || O.WORD != nullptr || O.LONG != nullptr) &&
        (O.LO != 0 || O.HI != WIDEST)) {
      std::string BOUNDS = std::to_string(O.LO) + " to " + std::to_string(O.HI);
      EXPECT_NE(TEXT.find(BOUNDS), std::string::npos) << TEXT;
      EXPECT_NE(SV_OPTIONHELP(O).find(BOUNDS), std::string::npos);
    }
  }
}

TEST(Options, EachDefaultIsTheStartValue) {
  SV_RESETSTATE();
  for (size_t K = 0; K < SV_NOPTIONS; K++) {
    const TOPTION& O = SV_OPTIONS[K];
    SCOPED_TRACE(O.NAME);
    if (O.BYTE != nullptr || O.WORD != nullptr || O.LONG != nullptr) {
      uint32_t V = O.BYTE != nullptr ? *O.BYTE : O.WORD != nullptr ? *O.WORD : *O.LONG;
      EXPECT_EQ(std::to_string(V), O.DEFAULT);
    } else if (O.TEXT != nullptr && !O.TEXT->empty()) {
      EXPECT_EQ(*O.TEXT, O.DEFAULT);
    }
  }
}
