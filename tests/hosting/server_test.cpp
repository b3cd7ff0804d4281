// The built server with -agones 1 and a -webhook, from start to SIGTERM: a
// player connects (a bot follows), the operator kicks the bot and bans the
// player. The sidecar stand-in sees Ready, the label follow the humans and
// Shutdown; the receiver sees start, kick, ban and stop, in that order.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "clientproto.hpp"
#include "process.hpp"
#include "standin.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

using nlohmann::json;

static std::vector<std::string> EVENTS(const std::vector<TCALL>& CALLS) {
  std::vector<std::string> R;
  for (const TCALL& C : CALLS) {
    R.push_back(json::parse(C.BODY)["event"]);
  }
  return R;
}

static std::vector<std::string> LABELS(const std::vector<TCALL>& CALLS) {
  std::vector<std::string> R;
  for (const TCALL& C : CALLSTO(CALLS, "/metadata/label")) {
    R.push_back(json::parse(C.BODY)["value"]);
  }
  return R;
}

// The newest players label the sidecar was given, or "".
static std::string LASTLABEL(const std::vector<TCALL>& CALLS) {
  std::vector<std::string> R = LABELS(CALLS);
  return R.empty() ? "" : R.back();
}

// What a stand-in was sent, each request with its time since T0: for the
// message of a failed wait.
static std::string SEEN(const TSTANDIN& S, long T0) {
  std::string R;
  for (const TCALL& C : S.CALLS()) {
    R += "\n  +" + std::to_string(C.ATMS - T0) + " ms " + C.METHOD + " " + C.TARGET + " " + C.BODY;
  }
  return R.empty() ? " nothing" : R;
}

TEST(HostingServer, AgonesAndWebhooksFromStartToStop) {
  TSTANDIN SIDECAR([](const TCALL&) { return TREPLY{200, "", "{}"}; });
  TSTANDIN HOOK([](const TCALL&) { return TREPLY{204, "", ""}; });
  std::string HOOKURL = "http://127.0.0.1:" + std::to_string(HOOK.PORT()) + "/hook";
  setenv("AGONES_SDK_HTTP_PORT", std::to_string(SIDECAR.PORT()).c_str(), 1);
  TSCRATCH DIR;
  long T0 = NOWMS();
  TPROCESS P({BRASTOK_SERVER_BIN, "-port", "0", "-bots", "1", "-agones", "1", "-webhook", HOOKURL},
             DIR.PATH(), true);
  unsetenv("AGONES_SDK_HTTP_PORT");
  std::string L;
  ASSERT_TRUE(P.READLINE(L));
  int PORT = PORTOFLINE(L);
  ASSERT_GT(PORT, 0) << L;
  std::vector<std::string> START;
  while (START.size() < 4 && P.READLINE(L)) {
    START.push_back(L);
  }
  ASSERT_EQ(START.size(), 4u);
  EXPECT_EQ(START[2],
            "Agones SDK initialized! http://127.0.0.1:" + std::to_string(SIDECAR.PORT()) + "/");
  EXPECT_EQ(START[3], "Webhooks initialized! http://127.0.0.1:" + std::to_string(HOOK.PORT()));

  auto WHY = [&] {
    return "started " + std::to_string(NOWMS() - T0) +
           " ms ago; the sidecar was sent:" + SEEN(SIDECAR, T0) +
           "\nthe receiver:" + SEEN(HOOK, T0) + "\nstandard error:\n" + P.ERRTEXT();
  };
  ASSERT_TRUE(SIDECAR.WAITFOR([](auto& A) { return LASTLABEL(A) == "0"; }, 5000)) << WHY();
  TUDPSOCKET C;
  C.SENDTO(uint16_t(PORT), CL_CONNECT("Alex", 0));
  ASSERT_TRUE(SIDECAR.WAITFOR([](auto& A) { return LASTLABEL(A) == "1"; }, 5000)) << WHY();
  ASSERT_TRUE(P.WRITEIN("kick 2\nban 1 5\n"));
  ASSERT_TRUE(HOOK.WAITFOR([](auto& A) { return A.size() == 3; }, 5000)) << WHY();
  ASSERT_TRUE(
      SIDECAR.WAITFOR([](auto& A) { return LASTLABEL(A) == "0" && LABELS(A).size() == 3; }, 5000))
      << WHY();
  EXPECT_EQ(P.STOP(SIGTERM), 0);

  std::vector<TCALL> H = HOOK.CALLS();
  EXPECT_EQ(EVENTS(H), (std::vector<std::string>{"start", "kick", "ban", "stop"}));
  json KICK = json::parse(H[1].BODY);
  EXPECT_EQ(KICK["content"], "Brastok Server: BOT #1 was kicked by an operator");
  EXPECT_EQ(KICK["bot"], true);
  json BAN = json::parse(H[2].BODY);
  EXPECT_EQ(BAN["content"], "Brastok Server: Alex was banned by an operator for 5 minutes");
  EXPECT_EQ(BAN["address"], "127.0.0.1");
  EXPECT_EQ(BAN["port"], PORT);
  std::vector<TCALL> S = SIDECAR.CALLS();
  EXPECT_EQ(CALLSTO(S, "/ready").size(), 1u);
  EXPECT_EQ(CALLSTO(S, "/shutdown").size(), 1u);
  EXPECT_EQ(S.back().TARGET, "/shutdown");
  EXPECT_EQ(LABELS(S), (std::vector<std::string>{"0", "1", "0"}));
}
