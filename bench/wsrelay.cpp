// brastok_wsrelay: turns UDP players into browser players, for measuring
// what the WebSocket bridge costs the server (bench/playcost.py).
//
//     brastok_wsrelay HTTPPORT
//
// Listens on a free UDP port of 127.0.0.1 and prints it ("relay port N");
// every client seen there gets its own WebSocket session to
// 127.0.0.1:HTTPPORT/play/ws, and each datagram goes on as one binary
// message, both ways. So `brastok_client load` plays over WebSocket with
// its players' behaviour unchanged, and the server sees one browser player
// per simulated player. One thread; it runs until it is stopped.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
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

// One client's session toward the server.
struct LEG : std::enable_shared_from_this<LEG> {
  udp::endpoint CLIENT;
  websocket::stream<beast::tcp_stream> WS{IOC};
  beast::flat_buffer IN;
  std::deque<std::string> OUT; // to the server; the first is being written
  bool OPEN = false, DEAD = false;

  // Each from an address of its own (127.0.0.2, .3, ...): the HTTP side
  // takes at most 16 connections from one address.
  void START(int K) {
    beast::error_code E;
    WS.next_layer().socket().open(tcp::v4(), E);
    WS.next_layer().socket().bind(
        tcp::endpoint(asio::ip::make_address_v4(0x7f000002u + uint32_t(K)), 0), E);
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
  void SEND(std::string D) {
    OUT.push_back(std::move(D));
    if (OUT.size() == 1 && OPEN) {
      WRITE();
    }
  }
  void WRITE() {
    if (OUT.empty() || DEAD) {
      return;
    }
    WS.async_write(asio::buffer(OUT.front()),
                   [S = shared_from_this()](beast::error_code EC, size_t) {
                     if (EC) {
                       S->DEAD = true;
                       return;
                     }
                     S->OUT.pop_front();
                     S->WRITE();
                   });
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
        L = std::make_shared<LEG>();
        L->CLIENT = FROM;
        L->START(NLEGS++);
      }
      L->SEND(std::string(BUF, N));
    }
    RECEIVE();
  });
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: brastok_wsrelay HTTPPORT\n");
    return 2;
  }
  SERVER = tcp::endpoint(asio::ip::make_address("127.0.0.1"), uint16_t(std::atoi(argv[1])));
  SOCK.open(udp::v4());
  SOCK.bind(udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  std::printf("relay port %u\n", unsigned(SOCK.local_endpoint().port()));
  std::fflush(stdout);
  RECEIVE();
  IOC.run();
}
