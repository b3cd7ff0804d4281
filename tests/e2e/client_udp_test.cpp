// A client over real UDP on 127.0.0.1 against the built server: connect,
// the owed log lines and the state packets, the map, joining the game, and
// leaving.
#include <gtest/gtest.h>
#include <signal.h>

#include "clientproto.hpp"
#include "process.hpp"
#include "server/state.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

static const std::string SERVER = BRASTOK_SERVER_BIN;

// The first datagram of kind ID among the next few, each waited for a while.
static bool RECVKIND(TUDPSOCKET& S, uint8_t ID, std::string& D, int MAXCOUNT = 200) {
  for (int I = 0; I < MAXCOUNT; I++) {
    if (!S.RECV(D, 2000)) {
      return false;
    }
    if (!D.empty() && uint8_t(D[0]) == ID) {
      return true;
    }
  }
  return false;
}

TEST(ClientUdp, ConnectPlayAndLeave) {
  TSCRATCH DIR;
  TPROCESS P({SERVER, "-port", "0"}, DIR.PATH());
  std::string LINE;
  ASSERT_TRUE(P.READLINE(LINE));
  int PORT = PORTOFLINE(LINE);
  ASSERT_GT(PORT, 0) << LINE;
  ASSERT_TRUE(P.READLINE(LINE));
  ASSERT_TRUE(P.READLINE(LINE));

  TUDPSOCKET C;
  ASSERT_TRUE(C.OK());
  C.SENDTO(uint16_t(PORT), CL_CONNECT("Alex", 1));
  // The two lines it is owed, then its first state packet.
  std::string D;
  ASSERT_TRUE(C.RECV(D, 3000));
  CL_LOG L;
  ASSERT_TRUE(CL_PARSELOG(D, L));
  EXPECT_EQ(L.LAST, 3);
  ASSERT_EQ(L.LINES.size(), 2u);
  EXPECT_EQ(L.LINES[1], std::string("\x01\x01\x01", 3) + "Alex");
  ASSERT_TRUE(C.RECV(D, 3000));
  CL_STATE ST;
  ASSERT_TRUE(CL_PARSESTATE(D, ST));
  EXPECT_EQ(ST.SELF, 1);
  ASSERT_EQ(ST.PLAYERS.size(), 1u);
  EXPECT_EQ(ST.PLAYERS[0].STATE, PS_SPEC);
  ASSERT_TRUE(P.READLINE(LINE));
  EXPECT_EQ(LINE, "Alex connected!");

  // Acknowledge, ask for the map.
  C.SENDTO(uint16_t(PORT), CL_DATA(ST.TICK, 0, PLACT_MI, 0, 0, L.LAST));
  ASSERT_TRUE(RECVKIND(C, CLMPMSG_MAP, D));
  CL_MAPINFO M;
  ASSERT_TRUE(CL_PARSEMAP(D, M));
  EXPECT_EQ(M.LOGBASE, 3);
  EXPECT_EQ(M.MAPTEXT, DEFMAPBUF);
  EXPECT_EQ(M.MAPNAME, "DefMap");
  ASSERT_EQ(M.PLAYERS.size(), 1u);
  EXPECT_EQ(M.PLAYERS[0].NAME, "Alex");

  // Join the game: the line comes back through the log, and the state shows
  // a living player.
  ASSERT_TRUE(RECVKIND(C, CLMPMSG_SHAP, D));
  ASSERT_TRUE(CL_PARSESTATE(D, ST));
  C.SENDTO(uint16_t(PORT), CL_DATA(ST.TICK, 0, PLACT_SJ, 0, 0, 3));
  ASSERT_TRUE(RECVKIND(C, CLMPMSG_LOGL, D));
  ASSERT_TRUE(CL_PARSELOG(D, L));
  EXPECT_EQ(L.LAST, 4);
  ASSERT_EQ(L.LINES.size(), 1u);
  EXPECT_EQ(L.LINES[0], std::string("\x06\x01", 2));
  ASSERT_TRUE(P.READLINE(LINE));
  EXPECT_EQ(LINE, "Alex has joined the game!");
  ASSERT_TRUE(RECVKIND(C, CLMPMSG_SHAP, D));
  ASSERT_TRUE(CL_PARSESTATE(D, ST));
  ASSERT_EQ(ST.PLAYERS.size(), 1u);
  EXPECT_EQ(ST.PLAYERS[0].STATE, PS_LIVE);

  // Leave; a data message afterwards is told to connect again.
  C.SENDTO(uint16_t(PORT), CL_DISCONNECT());
  ASSERT_TRUE(P.READLINE(LINE));
  EXPECT_EQ(LINE, "Alex disconnected!");
  C.SENDTO(uint16_t(PORT), CL_DATA(ST.TICK, 0, 0, 0, 0, 4));
  ASSERT_TRUE(RECVKIND(C, CLMPMSG_NOCON, D));
  EXPECT_EQ(D, std::string(1, char(CLMPMSG_NOCON)));
  EXPECT_EQ(P.STOP(SIGTERM), 0);
  EXPECT_EQ(P.ERRTEXT(), "");
}
