#include "wsclient.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

struct TWSCLIENT::TIMPL {
  asio::io_context IOC;
  websocket::stream<beast::tcp_stream> WS{IOC};
  int STATUS = 0;
  std::string SERVERFIELD;
  uint16_t LOCALPORT = 0;
  bool OPEN = false;
  bool READING = false;
  bool ENDED = false;
  beast::flat_buffer BUF;
  std::deque<std::string> GOT;

  // Keeps one read pending; what it brings waits in GOT.
  void READ() {
    if (READING || ENDED || !OPEN) {
      return;
    }
    READING = true;
    WS.async_read(BUF, [this](beast::error_code EC, size_t) {
      READING = false;
      if (EC) {
        ENDED = true;
        return;
      }
      auto D = BUF.data();
      GOT.emplace_back(static_cast<const char*>(D.data()), D.size());
      BUF.consume(BUF.size());
      READ();
    });
  }
  void RUNFOR(int MS) {
    IOC.restart();
    IOC.run_for(std::chrono::milliseconds(MS));
  }
};

TWSCLIENT::TWSCLIENT(int PORT, const std::string& FROM, uint16_t LOCALPORT, int MS)
    : I_(new TIMPL) {
  beast::error_code EC;
  tcp::socket& S = beast::get_lowest_layer(I_->WS).socket();
  S.open(tcp::v4(), EC);
  S.bind(tcp::endpoint(asio::ip::make_address(FROM), LOCALPORT), EC);
  if (EC) {
    return;
  }
  I_->LOCALPORT = S.local_endpoint(EC).port();
  beast::get_lowest_layer(I_->WS).expires_after(std::chrono::milliseconds(MS));
  bool DONE = false;
  websocket::response_type RES;
  beast::get_lowest_layer(I_->WS).async_connect(
      tcp::endpoint(asio::ip::make_address("127.0.0.1"), uint16_t(PORT)), [&](beast::error_code E) {
        if (E) {
          DONE = true;
          return;
        }
        I_->WS.async_handshake(RES, "127.0.0.1", "/play/ws", [&](beast::error_code E2) {
          DONE = true;
          I_->OPEN = !E2;
        });
      });
  while (!DONE && I_->IOC.run_one() > 0) {
  }
  I_->STATUS = int(RES.result_int());
  I_->SERVERFIELD = std::string(RES[beast::http::field::server]);
  beast::get_lowest_layer(I_->WS).expires_never();
  if (I_->OPEN) {
    I_->WS.binary(true);
    I_->READ();
  }
}

TWSCLIENT::~TWSCLIENT() {
  DROP();
}

int TWSCLIENT::STATUS() const {
  return I_->STATUS;
}

std::string TWSCLIENT::SERVERFIELD() const {
  return I_->SERVERFIELD;
}

bool TWSCLIENT::OPEN() const {
  return I_->OPEN && !I_->ENDED;
}

uint16_t TWSCLIENT::LOCALPORT() const {
  return I_->LOCALPORT;
}

bool TWSCLIENT::SEND(const std::string& D, bool TEXT) {
  if (!OPEN()) {
    return false;
  }
  I_->WS.text(TEXT);
  beast::error_code EC;
  bool DONE = false;
  I_->WS.async_write(asio::buffer(D), [&](beast::error_code E, size_t) {
    EC = E;
    DONE = true;
  });
  for (int K = 0; K < 300 && !DONE; K++) {
    I_->RUNFOR(10);
  }
  I_->WS.text(false);
  return DONE && !EC;
}

bool TWSCLIENT::RECV(std::string& D, int MS) {
  auto END = std::chrono::steady_clock::now() + std::chrono::milliseconds(MS);
  while (I_->GOT.empty() && !I_->ENDED && std::chrono::steady_clock::now() < END) {
    I_->RUNFOR(5);
  }
  if (I_->GOT.empty()) {
    return false;
  }
  D = std::move(I_->GOT.front());
  I_->GOT.pop_front();
  return true;
}

bool TWSCLIENT::ENDED(int MS) {
  auto END = std::chrono::steady_clock::now() + std::chrono::milliseconds(MS);
  while (!I_->ENDED && std::chrono::steady_clock::now() < END) {
    I_->GOT.clear();
    I_->RUNFOR(5);
  }
  return I_->ENDED || !I_->OPEN;
}

void TWSCLIENT::DROP() {
  beast::error_code EC;
  beast::get_lowest_layer(I_->WS).socket().close(EC);
  I_->ENDED = true;
  I_->IOC.restart();
  I_->IOC.poll(); // the pending read ends with the socket
}
