// The house's walls: the game core includes of the edge its door alone,
// hooks.hpp; and the service unit lets the server open what it opens.
#include <gtest/gtest.h>

#include "support/testpaths.hpp"
#include <filesystem>
#include <fstream>
#include <regex>

namespace fs = std::filesystem;

TEST(Layout, TheCoreIncludesOfTheEdgeOnlyHooks) {
  const std::regex INCLUDE(R"(^#include "([^"]+)\")");
  const std::regex CORE(R"((server|net|clients|maps|game|bots)/[^/]+|hooks\.hpp)");
  int FILES = 0;
  for (const char* DIR : {"server", "net", "clients", "maps", "game", "bots"}) {
    for (const auto& E : fs::directory_iterator(fs::path(BRASTOK_SOURCE_DIR) / "src" / DIR)) {
      std::ifstream F(E.path());
      std::string LINE;
      std::smatch M;
      while (std::getline(F, LINE)) {
        if (std::regex_search(LINE, M, INCLUDE)) {
          EXPECT_TRUE(std::regex_match(M[1].str(), CORE)) << E.path() << ": " << LINE;
        }
      }
      FILES++;
    }
  }
  EXPECT_GT(FILES, 20);
}

// -http takes an IPv6 address too ("[::]:8080"): the unit's sandbox must not
// refuse the socket.
TEST(Layout, TheServiceUnitAllowsTheAddressFamiliesTheServerUses) {
  std::ifstream F(std::string(BRASTOK_SOURCE_DIR) + "/deploy/systemd/brastok@.service.in");
  std::string LINE, FAMILIES;
  while (std::getline(F, LINE)) {
    if (LINE.rfind("RestrictAddressFamilies=", 0) == 0) {
      FAMILIES += LINE + " ";
    }
  }
  for (const char* FAMILY : {"AF_INET ", "AF_INET6 ", "AF_UNIX "}) {
    EXPECT_NE(FAMILIES.find(FAMILY), std::string::npos) << FAMILY << " in " << FAMILIES;
  }
}
