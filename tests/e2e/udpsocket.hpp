// A plain UDP socket on the loopback network for the end-to-end tests: a
// client, a squatter holding a port, a flooder, or the victim of a forged
// source address (any 127.x.y.z is an address of this machine).
#pragma once

#include <cstdint>
#include <string>

class TUDPSOCKET {
public:
  // Binds 127.0.0.1:PORT (0: any free port).
  explicit TUDPSOCKET(uint16_t PORT = 0, bool ANYADDR = false);
  // Binds ADDR:PORT, ADDR a dotted loopback address such as 127.0.0.3.
  TUDPSOCKET(const std::string& ADDR, uint16_t PORT);
  ~TUDPSOCKET();
  TUDPSOCKET(const TUDPSOCKET&) = delete;
  TUDPSOCKET& operator=(const TUDPSOCKET&) = delete;

  bool OK() const { return FD_ >= 0; }
  uint16_t PORT() const { return PORT_; }
  void SENDTO(uint16_t PORT, const std::string& DATA);
  // To ADDR:PORT, ADDR a dotted address.
  void SENDTO(const std::string& ADDR, uint16_t PORT, const std::string& DATA);
  // The next datagram within TIMEOUTMS; false on time-out. FROMPORT, when
  // given, receives the sender's port.
  bool RECV(std::string& DATA, int TIMEOUTMS = 2000, uint16_t* FROMPORT = nullptr);

private:
  int FD_ = -1;
  uint16_t PORT_ = 0;
};
