// The protocol from the client side: the messages a client sends, and exact
// parsers of the packets the server sends. Built on the server's own codec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "query/query.hpp"

// ---- messages a client sends ----

std::string CL_CONNECT(const std::string& NAME, uint8_t TEAM, uint8_t VERSION = 29);
std::string CL_DISCONNECT();
std::string CL_DATA(uint16_t ECHO, uint16_t DIR, uint8_t ACT, uint16_t MX, uint16_t MY,
                    uint16_t ACK);
std::string CL_CHAT(const std::string& TEXT);
// The slotless status query; the first one carries cookie 0.
std::string CL_QUERY(uint32_t COOKIE);

// ---- packets the server sends ----

struct CL_ENTRY {
  uint8_t SLOT = 0, STATE = 0, PING = 0, SCORE = 0;
  uint16_t X = 0, Y = 0, DIR = 0;
  uint8_t GUN = 0;
};

struct CL_STATE {
  uint16_t TICK = 0, BOARD = 0;
  std::vector<CL_ENTRY> PLAYERS;
  std::vector<uint8_t> ITEMS;
  uint8_t SELF = 0, HITS = 0, ARMOR = 0, AMMO1 = 0, AMMO2 = 0, GUN = 0;
};

struct CL_LISTED {
  uint8_t SLOT = 0, TEAM = 0;
  std::string NAME;
};

struct CL_MAPINFO {
  uint16_t LOGBASE = 0;
  std::string MAPTEXT, MAPNAME, SERVERNAME;
  uint8_t SCORELIMIT = 0, TEAMPLAY = 0, MAXPLAYERS = 0;
  std::vector<CL_LISTED> PLAYERS;
};

struct CL_LOG {
  uint16_t LAST = 0;
  std::vector<std::string> LINES;
};

// The answer to a status query: the server's settings and its slots.
struct CL_QPLAYER {
  uint8_t SLOT = 0, TEAM = 0, SCORE = 0, PING = 0, FLAGS = 0; // flags: see CL_QF_*
  std::string NAME;
};
constexpr uint8_t CL_QF_BOT = 1, CL_QF_INGAME = 2, CL_QF_ALIVE = 4;
struct CL_QINFO {
  uint8_t FORMAT = 0, VERSION = 0;
  std::string SERVERNAME, SERVERVERSION, MAPNAME;
  uint8_t MAPENTRY = 0, SCORELIMIT = 0, MAXPLAYERS = 0, TEAMPLAY = 0, BOTSWANTED = 0;
  uint8_t HUMANS = 0, BOTS = 0, SPECTATORS = 0;
  uint16_t TICK = 0;
  std::vector<CL_QPLAYER> PLAYERS;
};

// Each is true only when the datagram is of its kind and parses to exactly
// its length.
bool CL_PARSESTATE(const std::string& D, CL_STATE& S);
bool CL_PARSEMAP(const std::string& D, CL_MAPINFO& M);
bool CL_PARSELOG(const std::string& D, CL_LOG& L);
// The challenge to a query: its cookie.
bool CL_PARSEQCHAL(const std::string& D, uint32_t& COOKIE);
bool CL_PARSEQINFO(const std::string& D, CL_QINFO& Q);
