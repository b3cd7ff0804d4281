// The admin API of the built server, as an admin's tools see it: tokens
// made by -newadmin, what each role may run, 401, 403, the lockout, the
// body cap, who ran what in the JSON log, on the event stream and in a
// replay, and TLS with a certificate the test makes, off loopback in a
// network namespace of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "clientproto.hpp"
#include "httpclient.hpp"
#include "process.hpp"
#include "support/testpaths.hpp"
#include "udpsocket.hpp"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using nlohmann::json;
static const std::string SERVER = BRASTOK_SERVER_BIN;

// One request of an admin's tool: plain or TLS, from a chosen loopback
// address, with a token; every wait bounded.
struct TASK {
  std::string HOST = "127.0.0.1";
  int PORT = 0;
  std::string TARGET = "/api/status";
  std::string BODY; // a POST when not empty
  std::string TOKEN;
  std::string FROM;
  std::string CAFILE; // TLS, checking the server against this certificate
};
static std::optional<THTTPREPLY> ASK(const TASK& Q, int MS = 5000) {
  asio::io_context IOC;
  asio::ssl::context CTX(asio::ssl::context::tls_client);
  beast::tcp_stream T(IOC);
  beast::error_code EC;
  if (!Q.FROM.empty()) {
    T.socket().open(asio::ip::tcp::v4(), EC);
    T.socket().bind({asio::ip::make_address(Q.FROM), 0}, EC);
  }
  T.expires_after(std::chrono::milliseconds(MS));
  T.async_connect({asio::ip::make_address(Q.HOST), uint16_t(Q.PORT)},
                  [&](beast::error_code E) { EC = E; });
  IOC.run();
  if (EC) {
    return std::nullopt;
  }
  http::request<http::string_body> R{Q.BODY.empty() ? http::verb::get : http::verb::post, Q.TARGET,
                                     11};
  R.set(http::field::host, Q.HOST);
  if (!Q.TOKEN.empty()) {
    R.set(http::field::authorization, "Bearer " + Q.TOKEN);
  }
  if (!Q.BODY.empty()) {
    R.set(http::field::content_type, "application/json");
    R.body() = Q.BODY;
  }
  R.prepare_payload();
  R.keep_alive(false);
  beast::flat_buffer BUF;
  http::response<http::string_body> A;
  auto EXCHANGE = [&](auto& S) {
    IOC.restart();
    http::async_write(S, R, [&](beast::error_code E, size_t) {
      EC = E;
      if (!E) {
        http::async_read(S, BUF, A, [&](beast::error_code E2, size_t) { EC = E2; });
      }
    });
    IOC.run();
  };
  if (Q.CAFILE.empty()) {
    EXCHANGE(T);
  } else {
    CTX.load_verify_file(Q.CAFILE);
    CTX.set_verify_mode(asio::ssl::verify_peer);
    beast::ssl_stream<beast::tcp_stream> S(std::move(T), CTX);
    IOC.restart();
    S.async_handshake(asio::ssl::stream_base::client, [&](beast::error_code E) { EC = E; });
    IOC.run();
    if (EC) {
      return std::nullopt;
    }
    EXCHANGE(S);
  }
  if (EC) {
    return std::nullopt;
  }
  THTTPREPLY OUT;
  OUT.STATUS = int(A.result_int());
  for (const auto& F : A) {
    std::string N(F.name_string());
    for (char& C : N) {
      C = char(std::tolower(uint8_t(C)));
    }
    OUT.FIELDS[N] = std::string(F.value());
  }
  OUT.BODY = A.body();
  return OUT;
}

// A request to PORT with TOKEN, the other fields as they start.
static TASK AT(int PORT, const std::string& TOKEN = "", const std::string& HOST = "127.0.0.1") {
  TASK Q;
  Q.PORT = PORT;
  Q.TOKEN = TOKEN;
  Q.HOST = HOST;
  return Q;
}

static std::string COMMAND(const std::string& LINE) {
  return json{{"command", LINE}}.dump();
}

// The token and the file line -newadmin prints.
struct TNEWADMIN {
  std::string TOKEN, LINE;
};
static TNEWADMIN NEWADMIN(const std::string& NAME, const std::string& ROLE) {
  TPROCESS P({SERVER, "-newadmin", NAME, ROLE});
  std::vector<std::string> L;
  std::string S;
  while (P.READLINE(S, 3000)) {
    L.push_back(S);
  }
  EXPECT_EQ(P.WAIT(), 0);
  EXPECT_EQ(L.size(), 4u);
  return L.size() == 4 ? TNEWADMIN{L[1], L[3]} : TNEWADMIN{};
}

static std::vector<json> JSONLINES(const std::string& PATH) {
  std::vector<json> R;
  std::ifstream F(PATH);
  std::string L;
  while (std::getline(F, L)) {
    R.push_back(json::parse(L));
  }
  return R;
}

// A server on a free loopback port with the admins file, the JSON log and
// a recording: its HTTP port and console lines.
struct TADMINSERVER {
  TSCRATCH DIR;
  std::unique_ptr<TPROCESS> P;
  int HTTP = 0;
  uint16_t UDP = 0;
  std::vector<std::string> LINES;
  TADMINSERVER(const std::string& ADMINS, std::vector<std::string> ARGS,
               std::vector<std::string> BEFORE = {}, const std::string& ON = "0") {
    std::ofstream(DIR.PATH() + "/admins") << ADMINS;
    ARGS.insert(ARGS.begin(), {SERVER, "-port", "0", "-http", ON, "-admins", "admins"});
    ARGS.insert(ARGS.begin(), BEFORE.begin(), BEFORE.end());
    P = std::make_unique<TPROCESS>(ARGS, DIR.PATH(), true);
    std::string L;
    for (int I = 0; I < 4 && P->READLINE(L); I++) {
      LINES.push_back(L);
      UDP = I == 0 ? uint16_t(PORTOFLINE(L)) : UDP;
      if (L.rfind("HTTP initialized! http://", 0) == 0) {
        HTTP = std::atoi(L.c_str() + L.rfind(':') + 1);
      }
    }
  }
  std::string PATH(const std::string& F) const { return DIR.PATH() + "/" + F; }
  // Whether standard error shows TEXT within MS.
  bool WAITERR(const std::string& TEXT, int MS = 5000) {
    for (long END = NOWMS() + MS; NOWMS() < END;) {
      if (P->ERRTEXT().find(TEXT) != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Console lines until one equals TEXT, at most MS.
  bool WAITLINE(const std::string& TEXT, int MS = 5000) { return P->WAITLINE(TEXT, MS, &LINES); }
};

TEST(AdminApi, RolesTokensLockoutCapAndWhoRanWhat) {
  TNEWADMIN ANN = NEWADMIN("ann", "admin"), MO = NEWADMIN("mo", "moderator");
  ASSERT_FALSE(ANN.TOKEN.empty());
  EXPECT_EQ(ANN.TOKEN.size(), 8u + 48u); // "brastok_" and 192 bits in hex
  TADMINSERVER SV(ANN.LINE + "\n# the moderators\n" + MO.LINE + "\n",
                  {"-bots", "1", "-log", "log.json", "-record", "match.rec"});
  ASSERT_GT(SV.HTTP, 0);
  // A human in the game, for an address in the status (bots join with it).
  TUDPSOCKET HUMAN;
  HUMAN.SENDTO(SV.UDP, CL_CONNECT("Hum", 0));
  ASSERT_TRUE(SV.WAITLINE("Hum connected!"));
  ASSERT_TRUE(SV.WAITLINE("BOT #1 has joined the game!"));
  THTTPCONN EVENTS(SV.HTTP);
  ASSERT_TRUE(EVENTS.STREAM("/events"));
  ASSERT_TRUE(EVENTS.NEXTEVENT()); // the whole status

  TASK Q = AT(SV.HTTP);
  // Table: who asks what, and the status and answer that come back.
  struct TCASE {
    std::string TOKEN, LINE;
    int STATUS;
    bool OK;
    std::string ERROR;
  };
  const TCASE CASES[] = {
      {"", "status", 401, false, "a token is needed: Authorization: Bearer TOKEN"},
      {"brastok_0123", "status", 401, false, "wrong token"},
      {MO.TOKEN, "say from mo", 200, true, ""},
      {MO.TOKEN, "bots 2", 403, false, "moderator mo may not run bots (admin only)"},
      {MO.TOKEN, "kick 2", 200, true, ""}, // the bot
      {ANN.TOKEN, "kick 9", 200, false, "slot 9 is free"},
      {MO.TOKEN, "mute 1", 200, true, ""},
      {ANN.TOKEN, "bots 0", 200, true, ""},
  };
  for (const TCASE& C : CASES) {
    SCOPED_TRACE(C.LINE);
    Q.TOKEN = C.TOKEN;
    Q.BODY = COMMAND(C.LINE);
    Q.TARGET = "/api/command";
    auto R = ASK(Q);
    ASSERT_TRUE(R);
    EXPECT_EQ(R->STATUS, C.STATUS);
    json J = json::parse(R->BODY);
    EXPECT_EQ(J["ok"], C.OK);
    EXPECT_EQ(J["error"], C.ERROR);
    if (C.STATUS == 401) {
      EXPECT_EQ(R->FIELDS["www-authenticate"], "Bearer realm=\"brastok admin\"");
    }
  }
  EXPECT_TRUE(SV.WAITLINE("from mo"));
  EXPECT_TRUE(SV.WAITLINE("BOT #1 disconnected!"));

  // The status with the human's address, the map list and the role.
  Q = AT(SV.HTTP, MO.TOKEN);
  auto ST = ASK(Q);
  ASSERT_TRUE(ST);
  ASSERT_EQ(ST->STATUS, 200);
  json S = json::parse(ST->BODY);
  EXPECT_EQ(S["slots"][0]["address"], "127.0.0.1:" + std::to_string(HUMAN.PORT()));
  EXPECT_EQ(S["maps"], json::parse(R"([{"entry":1,"name":"DefMap"}])"));
  EXPECT_EQ(S["you"], json::parse(R"({"admin":"mo","role":"moderator"})"));

  // A body over 1 KB is refused before anything reads it.
  Q = AT(SV.HTTP, ANN.TOKEN);
  Q.TARGET = "/api/command";
  Q.BODY = COMMAND("say " + std::string(1100, 'x'));
  auto BIG = ASK(Q);
  ASSERT_TRUE(BIG);
  EXPECT_EQ(BIG->STATUS, 413);

  // Five wrong tokens from 127.0.0.3 lock it out, the right one included;
  // 127.0.0.1 is not locked.
  Q = AT(SV.HTTP, "brastok_guess");
  Q.FROM = "127.0.0.3";
  for (int K = 0; K < 5; K++) {
    auto R = ASK(Q);
    ASSERT_TRUE(R);
    EXPECT_EQ(R->STATUS, 401);
  }
  Q.TOKEN = ANN.TOKEN;
  auto LOCKED = ASK(Q);
  ASSERT_TRUE(LOCKED);
  EXPECT_EQ(LOCKED->STATUS, 429);
  EXPECT_EQ(LOCKED->FIELDS["retry-after"], "600");
  Q.FROM = "";
  auto FREE = ASK(Q);
  ASSERT_TRUE(FREE);
  EXPECT_EQ(FREE->STATUS, 200);
  EXPECT_TRUE(SV.WAITERR("note: admin API: 5 wrong tokens from 127.0.0.3: locked out for 10 "
                         "minutes"));

  // The console's commands are attributed too.
  ASSERT_TRUE(SV.P->WRITEIN("say from the console\n"));
  ASSERT_TRUE(SV.WAITLINE("from the console"));

  // The event stream tells who ran what, as "admin" events.
  std::vector<json> SEEN;
  for (long END = NOWMS() + 5000; SEEN.size() < 6 && NOWMS() < END;) {
    auto E = EVENTS.NEXTEVENT(1000);
    if (E && E->rfind("event: admin\ndata: ", 0) == 0) {
      SEEN.push_back(json::parse(E->substr(19)));
    }
  }
  ASSERT_EQ(SEEN.size(), 6u);
  EXPECT_EQ(
      SEEN[0],
      json::parse(R"({"admin":"mo","address":"127.0.0.1","command":"say from mo","ok":true})"));
  EXPECT_EQ(
      SEEN[5],
      json::parse(
          R"({"admin":"console","address":null,"command":"say from the console","ok":true})"));

  ASSERT_TRUE(SV.P->WRITEIN("quit\n"));
  EXPECT_EQ(SV.P->WAIT(), 0);
  std::string L;
  while (SV.P->READLINE(L, 1000)) {
    SV.LINES.push_back(L);
  }

  // The JSON log: one "admin" record per command run, refused ones (401,
  // 403, 413, 429) never ran and have none.
  std::vector<std::string> WHO;
  for (const json& J : JSONLINES(SV.PATH("log.json"))) {
    if (J["kind"] == "admin") {
      EXPECT_FALSE(J.contains("line"));
      WHO.push_back(J["admin"].get<std::string>() + " " +
                    (J["address"].is_null() ? "-" : J["address"].get<std::string>()) + " " +
                    J["command"].get<std::string>() + (J["ok"] ? " ok" : " failed"));
    }
  }
  EXPECT_EQ(WHO,
            (std::vector<std::string>{"mo 127.0.0.1 say from mo ok", "mo 127.0.0.1 kick 2 ok",
                                      "ann 127.0.0.1 kick 9 failed", "mo 127.0.0.1 mute 1 ok",
                                      "ann 127.0.0.1 bots 0 ok",
                                      "console - say from the console ok", "console - quit ok"}));

  // The replay runs the API's commands where they ran: the same console.
  TPROCESS REPLAY({BRASTOK_REPLAY_BIN, SV.PATH("match.rec")});
  std::vector<std::string> AGAIN;
  while (REPLAY.READLINE(L, 5000)) {
    AGAIN.push_back(L);
  }
  EXPECT_EQ(REPLAY.WAIT(), 0) << REPLAY.ERRTEXT();
  EXPECT_EQ(AGAIN, SV.LINES);
}

TEST(AdminApi, HupRereadsTheAdminsAndAQuitIsAnswered) {
  TNEWADMIN ANN = NEWADMIN("ann", "admin"), BO = NEWADMIN("bo", "admin");
  TADMINSERVER SV("ann admin sha256:xyz\n" + ANN.LINE + "\n", {});
  ASSERT_GT(SV.HTTP, 0);
  EXPECT_TRUE(SV.WAITERR("warning: admins file admins line 1: the token's hash must be sha256: and "
                         "64 lower-case hex digits; the line is left out"));
  TASK Q = AT(SV.HTTP, BO.TOKEN);
  EXPECT_EQ(ASK(Q)->STATUS, 401);
  std::ofstream(SV.PATH("admins"), std::ios::app) << BO.LINE << "\n";
  kill(SV.P->PID(), SIGHUP);
  int STATUS = 0;
  for (long END = NOWMS() + 5000; STATUS != 200 && NOWMS() < END;) {
    STATUS = ASK(Q)->STATUS;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(STATUS, 200);
  // An idle server (nobody playing) runs a command at once, and "quit" is
  // answered before the server ends.
  Q.TARGET = "/api/command";
  Q.BODY = COMMAND("quit");
  long T0 = NOWMS();
  auto R = ASK(Q);
  ASSERT_TRUE(R);
  EXPECT_EQ(R->STATUS, 200);
  EXPECT_EQ(json::parse(R->BODY)["ok"], true);
  EXPECT_LT(NOWMS() - T0, 900); // not the idle wait's second
  EXPECT_EQ(SV.P->WAIT(), 0);
}

// A self-signed certificate for 127.0.0.1 and 192.0.2.1, made with the
// openssl tool.
static bool MAKECERT(const std::string& DIR) {
  std::string CMD = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
                    "-subj /CN=brastok-test -addext subjectAltName=IP:127.0.0.1,IP:192.0.2.1 "
                    "-keyout " +
                    DIR + "/key.pem -out " + DIR + "/cert.pem 2>/dev/null";
  return std::system(CMD.c_str()) == 0;
}

TEST(AdminApi, TlsBesidePlainHttpAndNotWithoutItOffLoopback) {
  TSCRATCH CERTS;
  ASSERT_TRUE(MAKECERT(CERTS.PATH()));
  std::string CERT = CERTS.PATH() + "/cert.pem", KEY = CERTS.PATH() + "/key.pem";
  TNEWADMIN ANN = NEWADMIN("ann", "admin");
  {
    // A key that is not the certificate's stops the start.
    std::string OTHER = CERTS.PATH() + "/other";
    std::filesystem::create_directory(OTHER);
    ASSERT_TRUE(MAKECERT(OTHER));
    TPROCESS BAD(
        {SERVER, "-port", "0", "-http", "0", "-httpcert", CERT, "-httpkey", OTHER + "/key.pem"});
    EXPECT_EQ(BAD.WAIT(), 1);
    EXPECT_NE(BAD.ERRTEXT().find("warning: option -httpkey: cannot use " + OTHER + "/key.pem"),
              std::string::npos)
        << BAD.ERRTEXT();
  }
  // Off loopback, in a network namespace of the test's own where 192.0.2.1
  // is an address of the loopback device: the server listens there, and a
  // thread of the test joins the namespace to ask.
  const std::string UP =
      "ip link set lo up && ip addr add 192.0.2.1/32 dev lo && exec \"$0\" \"$@\"";
  if (std::system("unshare -n true 2>/dev/null") != 0) {
    GTEST_SKIP() << "no network namespace can be made here";
  }
  TADMINSERVER SV(ANN.LINE + "\n", {"-httpcert", CERT, "-httpkey", KEY},
                  {"/usr/bin/unshare", "-n", "/bin/sh", "-c", UP}, "192.0.2.1:0");
  TADMINSERVER NOTLS(ANN.LINE + "\n", {}, {"/usr/bin/unshare", "-n", "/bin/sh", "-c", UP},
                     "0.0.0.0:0");
  ASSERT_GT(SV.HTTP, 0);
  ASSERT_GT(NOTLS.HTTP, 0);
  EXPECT_TRUE(NOTLS.WAITERR("note: the admin API answers only connections from this machine "
                            "(loopback): there is no -httpcert and -httpkey for https on 0.0.0.0"));
  EXPECT_EQ(SV.P->ERRTEXT(), "");
  std::vector<std::pair<std::string, int>> GOT;
  auto IN = [&](pid_t PID, auto&& F) {
    std::thread T([&] {
      int NS = open(("/proc/" + std::to_string(PID) + "/ns/net").c_str(), O_RDONLY);
      if (NS >= 0 && setns(NS, CLONE_NEWNET) == 0) {
        F();
      }
      if (NS >= 0) {
        close(NS);
      }
    });
    T.join();
  };
  auto NOTE = [&](const std::string& WHAT, const std::optional<THTTPREPLY>& R) {
    GOT.push_back({WHAT, R ? R->STATUS : 0});
  };
  IN(SV.P->PID(), [&] {
    TASK Q = AT(SV.HTTP, ANN.TOKEN, "192.0.2.1");
    NOTE("plain api", ASK(Q));
    Q.TARGET = "/admin";
    NOTE("plain page", ASK(Q));
    Q.TARGET = "/healthz";
    NOTE("plain health", ASK(Q));
    Q.CAFILE = CERT;
    NOTE("tls health", ASK(Q));
    Q.TARGET = "/admin";
    NOTE("tls page", ASK(Q));
    Q.TARGET = "/api/command";
    Q.BODY = COMMAND("status");
    NOTE("tls api", ASK(Q));
  });
  IN(NOTLS.P->PID(), [&] {
    TASK Q = AT(NOTLS.HTTP, ANN.TOKEN, "192.0.2.1");
    NOTE("no tls: plain api", ASK(Q));
    Q.HOST = "127.0.0.1";
    NOTE("no tls: loopback api", ASK(Q));
  });
  EXPECT_EQ(GOT, (std::vector<std::pair<std::string, int>>{{"plain api", 403},
                                                           {"plain page", 403},
                                                           {"plain health", 200},
                                                           {"tls health", 200},
                                                           {"tls page", 200},
                                                           {"tls api", 200},
                                                           {"no tls: plain api", 403},
                                                           {"no tls: loopback api", 200}}));
}
