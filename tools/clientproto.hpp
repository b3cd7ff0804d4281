// The protocol from the client side: the messages a client sends, and exact
// parsers of the packets the server sends. Built on the server's own codec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- messages a client sends ----

std::string CL_CONNECT(const std::string& NAME, uint8_t TEAM, uint8_t VERSION = 29);
std::string CL_DISCONNECT();
std::string CL_DATA(uint16_t ECHO, uint16_t DIR, uint8_t ACT, uint16_t MX, uint16_t MY,
                    uint16_t ACK);
std::string CL_CHAT(const std::string& TEXT);

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

// Each is true only when the datagram is of its kind and parses to exactly
// its length.
bool CL_PARSESTATE(const std::string& D, CL_STATE& S);
bool CL_PARSEMAP(const std::string& D, CL_MAPINFO& M);
bool CL_PARSELOG(const std::string& D, CL_LOG& L);
