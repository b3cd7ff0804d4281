// brastok_wsrelay: turns UDP players into browser players, for measuring
// what the WebSocket bridge costs the server (bench/playcost.py).
//
//     brastok_wsrelay [-raw] PORT
//
// Listens on a free UDP port of 127.0.0.1 and prints it ("relay port N");
// every client seen there gets its own WebSocket session to
// 127.0.0.1:PORT/play/ws, and each datagram goes on as one binary
// message, both ways. So `brastok_client load` plays over WebSocket with
// its players' behaviour unchanged, and the server sees one browser player
// per simulated player. One thread; it runs until it is stopped.
//
// With -raw each client gets a plain TCP connection to 127.0.0.1:PORT
// instead, each datagram behind a 2-byte length both ways: what
// `brastok_floor -tcp` speaks.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;

static asio::io_context IOC;
static udp::socket SOCK(IOC);
static tcp::endpoint SERVER;

static bool RAW = false;

// One client's way to the server, with what it still has to write there.
struct LEG {
  udp::endpoint CLIENT;
  std::deque<std::string> OUT; // to the server; the first is being written
  bool OPEN = false, DEAD = false;
  virtual ~LEG() = default;
  virtual void START(int K) = 0;
  // Starts writing OUT's first; the write's end calls WROTE.
  virtual void WRITEFIRST() = 0;
  void WRITE() {
    if (!OUT.empty() && !DEAD) {
      WRITEFIRST();
    }
  }
  void WROTE(beast::error_code EC) {
    if (EC) {
      DEAD = true;
      return;
    }
    OUT.pop_front();
    WRITE();
  }
  // What goes on the connection for datagram D.
  virtual std::string FRAME(std::string D) { return D; }
  void SEND(std::string D) {
    OUT.push_back(FRAME(std::move(D)));
    if (OUT.size() == 1 && OPEN) {
      WRITE();
    }
  }
};

// Each from an address of its own (127.0.0.2, .3, ...): the HTTP side
// takes at most 16 connections from one address.
static void BINDNEXT(tcp::socket& S, int K) {
  beast::error_code E;
  S.open(tcp::v4(), E);
  S.bind(tcp::endpoint(asio::ip::make_address_v4(0x7f000002u + uint32_t(K)), 0), E);
}

// A plain TCP connection: a 2-byte length, then the datagram.
struct RAWLEG : LEG, std::enable_shared_from_this<RAWLEG> {
  tcp::socket S{IOC};
  uint8_t HEAD[2];
  std::string IN;

  void START(int K) override {
    BINDNEXT(S, K);
    S.async_connect(SERVER, [P = shared_from_this()](beast::error_code EC) {
      if (EC) {
        P->DEAD = true;
        return;
      }
      beast::error_code E;
      P->S.set_option(tcp::no_delay(true), E);
      P->OPEN = true;
      P->READ();
      P->WRITE();
    });
  }
  void READ() {
    asio::async_read(S, asio::buffer(HEAD), [P = shared_from_this()](beast::error_code EC, size_t) {
      if (EC) {
        P->DEAD = true;
        return;
      }
      P->IN.resize(size_t(P->HEAD[0]) << 8 | P->HEAD[1]);
      asio::async_read(P->S, asio::buffer(P->IN), [P](beast::error_code EC2, size_t) {
        if (EC2) {
          P->DEAD = true;
          return;
        }
        beast::error_code E;
        SOCK.send_to(asio::buffer(P->IN), P->CLIENT, 0, E);
        P->READ();
      });
    });
  }
  std::string FRAME(std::string D) override {
    std::string F(2, '\0');
    F[0] = char(D.size() >> 8);
    F[1] = char(D.size());
    return F + D;
  }
  void WRITEFIRST() override {
    asio::async_write(S, asio::buffer(OUT.front()),
                      [P = shared_from_this()](beast::error_code EC, size_t) { P->WROTE(EC); });
  }
};

// One client's session toward the server.
struct WSLEG : LEG, std::enable_shared_from_this<WSLEG> {
  websocket::stream<beast::tcp_stream> WS{IOC};
  beast::flat_buffer IN;

  void START(int K) override {
    BINDNEXT(WS.next_layer().socket(), K);
    WS.next_layer().async_connect(SERVER, [S = shared_from_this()](beast::error_code EC) {
      if (EC) {
        S->DEAD = true;
        return;
      }
      beast::error_code E;
      S->WS.next_layer().socket().set_option(tcp::no_delay(true), E);
      S->WS.async_handshake("127.0.0.1", "/play/ws", [S](beast::error_code EC2) {
        if (EC2) {
          S->DEAD = true;
          return;
        }
        S->OPEN = true;
        S->WS.binary(true);
        S->READ();
        S->WRITE();
      });
    });
  }
  void READ() {
    WS.async_read(IN, [S = shared_from_this()](beast::error_code EC, size_t) {
      if (EC) {
        S->DEAD = true;
        return;
      }
      auto D = S->IN.data();
      beast::error_code E;
      SOCK.send_to(asio::buffer(D.data(), D.size()), S->CLIENT, 0, E);
      S->IN.consume(S->IN.size());
      S->READ();
    });
  }
  void WRITEFIRST() override {
    WS.async_write(asio::buffer(OUT.front()),
                   [S = shared_from_this()](beast::error_code EC, size_t) { S->WROTE(EC); });
  }
};

static std::map<udp::endpoint, std::shared_ptr<LEG>> LEGS;
static char BUF[65536];
static int NLEGS = 0;
static udp::endpoint FROM;

static void RECEIVE() {
  SOCK.async_receive_from(asio::buffer(BUF), FROM, [](beast::error_code EC, size_t N) {
    if (!EC) {
      auto& L = LEGS[FROM];
      if (!L || L->DEAD) {
        if (RAW) {
          L = std::make_shared<RAWLEG>();
        } else {
          L = std::make_shared<WSLEG>();
        }
        L->CLIENT = FROM;
        L->START(NLEGS++);
      }
      L->SEND(std::string(BUF, N));
    }
    RECEIVE();
  });
}

int main(int argc, char** argv) {
  RAW = argc == 3 && std::string(argv[1]) == "-raw";
  if (argc != 2 + int(RAW)) {
    std::fprintf(stderr, "usage: brastok_wsrelay [-raw] PORT\n");
    return 2;
  }
  SERVER = tcp::endpoint(asio::ip::make_address("127.0.0.1"), uint16_t(std::atoi(argv[argc - 1])));
  SOCK.open(udp::v4());
  SOCK.bind(udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  std::printf("relay port %u\n", unsigned(SOCK.local_endpoint().port()));
  std::fflush(stdout);
  RECEIVE();
  IOC.run();
}
