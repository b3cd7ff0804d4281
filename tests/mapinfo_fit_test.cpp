// The map-information packet always parses to its own length, however long
// the map text, the names and the player list are.
#include "maps/maps.hpp"
#include "support/testserver.hpp"

class MapInfoFitTest : public TServerTest {};

TEST_F(MapInfoFitTest, LargestPacketStillParses) {
  // A full 64 x 64 map, the longest names a map file and the command line
  // can bring, and 24 clients with 20-character names.
  std::string TEXT = "446202";
  for (int R = 0; R < 64; R++) {
    TEXT += std::string(64, R == 0 || R == 63 ? 'A' : ' ') + (R < 63 ? "\r" : "");
  }
  START({"-name", std::string(300, 's')});
  for (size_t P = 0; P < TEXT.size(); P++) {
    SV_MAPL[1].MAP[int(P) + 1] = TEXT[P];
  }
  SV_MAPL[1].NAME = std::string(250, 'm');
  SV_LOADCURMAP(1);
  for (int I = 1; I <= MAXCLIENTS; I++) {
    ASSERT_EQ(CONNECT("10.0.0." + std::to_string(I), 5000, std::string(20, char('a' + I))),
              uint8_t(I));
  }
  MEMNET_OUT.clear();
  SEND("10.0.0.1", 5000, CL_DATA(SV_PINGVAR, 0, PLACT_MI, 0, 0, 0));
  CYCLE();
  std::vector<std::string> GOT = TAKE("10.0.0.1", 5000);
  const std::string* MAP = nullptr;
  for (const std::string& D : GOT) {
    if (!D.empty() && uint8_t(D[0]) == CLMPMSG_MAP) {
      MAP = &D;
    }
  }
  ASSERT_NE(MAP, nullptr);
  CL_MAPINFO M;
  ASSERT_TRUE(CL_PARSEMAP(*MAP, M)) << MAP->size() << " bytes";
  EXPECT_EQ(M.MAPTEXT, TEXT);
  EXPECT_EQ(M.PLAYERS.size(), 24u);
  EXPECT_EQ(M.PLAYERS[23].NAME, std::string(20, char('a' + 24)));
  EXPECT_EQ(MAP->size(), size_t(MAXBUFFER - 1));
  // The names give way, from their ends, to what must arrive whole.
  EXPECT_EQ(M.SERVERNAME, std::string(M.SERVERNAME.size(), 's'));
  EXPECT_EQ(M.MAPNAME, std::string(M.MAPNAME.size(), 'm'));
}
