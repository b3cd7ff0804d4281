// A server in a test: every global at its start value, the in-memory
// transport, the console captured. Scenario tests drive GAMECYCLE tick by
// tick and read the datagrams sent and the console lines.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "clientproto.hpp"
#include "net/memnet.hpp"
#include "server/server.hpp"

// A byte string from byte values: BYTES({110, 232, 3}).
std::string BYTES(std::initializer_list<int> B);

class TServerTest : public ::testing::Test {
protected:
  std::vector<std::string> LINES; // console (standard output) lines
  std::vector<std::string> WARNS; // standard error warning lines

  void SetUp() override;
  void TearDown() override;

  // GAMESTART with these arguments, which must succeed.
  void START(const std::vector<std::string>& ARGS = {});
  // Runs N game cycles, advancing SV_NOWMS and SV_UTCMS by 30 ms before each.
  void CYCLE(int N = 1);
  // Queues a datagram from IP:PORT.
  void SEND(const std::string& IP, uint16_t PORT, const std::string& DATA);
  // Connects a client and runs one cycle; returns its slot (0 if none).
  uint8_t CONNECT(const std::string& IP, uint16_t PORT, const std::string& NAME = "Alex",
                  uint8_t TEAM = 0);
  // Connects a client and brings it into the game (PLACT_SJ); returns its slot.
  uint8_t JOIN(const std::string& IP, uint16_t PORT, const std::string& NAME = "Alex",
               uint8_t TEAM = 0);
  // The datagrams sent to IP:PORT since the last TAKE, and forgets all sent.
  std::vector<std::string> TAKE(const std::string& IP, uint16_t PORT);
  // The last state packet sent to IP:PORT since the last TAKE, parsed.
  CL_STATE LASTSTATE(const std::string& IP, uint16_t PORT);
};

// A server test run in a scratch working directory holding a maps/ folder,
// removed when the test ends.
class TScratchServerTest : public TServerTest {
protected:
  std::filesystem::path OLD, DIR;
  void SetUp() override;
  void TearDown() override;
};
