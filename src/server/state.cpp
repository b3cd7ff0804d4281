// Server state: the globals with their start values, and the constant tables.
#include "server/state.hpp"

#include "hooks.hpp"

const TArr<uint8_t, 1, 2> PLAYERMAXAMMO = {{200, 30}};
const TArr<uint8_t, 1, 2> PLAYERSTARTAMMO = {{25, 0}};

uint16_t NET_PORT;
std::string NET_FAILLINE;
TNET_BUFFER NET_BUF;
uint16_t NET_BUFP;
uint16_t NET_BUFEND;

uint16_t SV_PINGVAR;
TArr<TCLIENT, 1, MAXCLIENTS> SV_CLIENTSLIST;
uint8_t SV_BOTC;
TMAPCUR SV_MAP;
TArr<TMAPINLIST, 1, MAXMAPLIST> SV_MAPL;
std::string SV_NAME;
TArr<std::string, 0, MAXLOG> SV_LOG;
uint16_t SV_LOGI;
uint8_t SV_CURCLIENTS;
uint8_t SV_CURPLAYERS;
uint8_t SV_MAXPLAYERS;
uint8_t SV_SCORELIMIT;
uint8_t SV_TEAMPLAY;
uint16_t SV_SCOREBOARD;
uint8_t SV_BOTCOUNT;
uint8_t SV_BOTTEAMS;
std::string NET_IP;
std::string SV_MAPDIR;
uint8_t SV_STRICT;
uint8_t SV_BOTFILL;
uint32_t BOT_RANDSEED;
TArr<TCONNLOG, 0, CONNTABLE - 1> NET_CONNLOG;
uint32_t SV_CYCLES;
uint64_t SV_CLAIMS;
int64_t SV_NOWMS;
int64_t SV_UTCMS;
TCOUNTERS SV_STATS;
bool SV_QUITASKED;

// The edge's settings of the command line (hooks.hpp): plain values the
// options table fills, defined here so that they hold their start values as
// early as the core's do.
std::string OPT_HTTP;
std::string OPT_LOG;
std::string OPT_RECORD;
uint32_t OPT_RECORDMAX;
uint8_t OPT_AGONES;
uint8_t OPT_VOTES;
std::string OPT_HTTPCERT;
std::string OPT_HTTPKEY;

// Weapons 1..5: knife, pistol, mp40, chaingun, rifle.
const TArr<const char*, 1, NUMGUNS> GUNS_NAME = {{"knife", "pistol", "mp40", "chaingun", "rifle"}};
const TArr<uint8_t, 1, NUMGUNS> GUNS_DAMAGE = {{50, 8, 8, 8, 40}};
const TArr<uint8_t, 1, NUMGUNS> GUNS_RELOAD = {{20, 18, 5, 3, 30}};
const TArr<uint8_t, 1, NUMGUNS> GUNS_GANIM = {{8, 6, 3, 2, 6}};
const TArr<uint8_t, 1, NUMGUNS> GUNS_DISPER = {{0, 0, 0, 4, 0}};
const TArr<uint8_t, 1, NUMGUNS> GUNS_AMTYPE = {{1, 1, 1, 1, 2}};
const TArr<uint8_t, 1, NUMGUNS> GUNS_AMTAKE = {{0, 1, 1, 1, 1}};
const TArr<uint16_t, 1, NUMGUNS> GUNS_BSTEP = {{10, 10, 10, 10, 10}};
const TArr<uint16_t, 1, NUMGUNS> GUNS_BDIST = {{49, 6000, 6000, 6000, 6000}};

// Items '0'..'9'.
const TArr<uint8_t, '0', '9'> ITEMSP_GUN = {{0, 3, 4, 0, 0, 0, 0, 0, 0, 5}};
const TArr<uint8_t, '0', '9'> ITEMSP_HITS = {{0, 0, 0, 0, 0, 5, 10, 15, 100, 0}};
const TArr<uint8_t, '0', '9'> ITEMSP_ARMOR = {{50, 0, 0, 0, 0, 0, 0, 0, 25, 0}};
const TArr<TArr<uint8_t, '0', '9'>, 1, 2> ITEMSP_AMMO = {{
    {{0, 20, 30, 5, 40, 0, 0, 0, 20, 0}},
    {{0, 0, 0, 0, 5, 0, 0, 0, 5, 5}},
}};
const TArr<uint16_t, '0', '9'> ITEMSP_RESPT = {{600, 240, 240, 300, 450, 300, 450, 600, 1050, 240}};

const TArr<const char*, 0, MAXTEAMS - 1> TEAMCHAR = {{"SS", "MU", "SO", "OF"}};
const TArr<const char*, 0, MAXTEAMS - 1> TEAMNAME = {{"SS", "Mutants", "Soldiers", "Officers"}};

const char* const STR_CCON = " connected!";
const char* const STR_DCON = " disconnected!";
const char* const STR_COUT = " time out!";
const char* const STR_CENT = " has joined the game!";
const char* const STR_CLEV = " has left the game!";
const char* const STR_CWIN = " WINS!";
const char* const STR_TEAM = " team ";

// The built-in map: header, a carriage return (so row 1 stays empty), then
// rows 2 to 15 separated by carriage returns, none after the last.
const std::string DEFMAPBUF = "446202"
                              "\r"
                              " ACAAmBBmAACA\r"
                              "E4    36    4N\r"
                              "H b3      1b O\r"
                              "E 1@E    A@3 N\r"
                              "E  EF    BA  N\r"
                              "l    5  5    o\r"
                              "F6    28     P\r"
                              "F3    09    6P\r"
                              "l    5  5   3o\r"
                              "E  IK    PN  N\r"
                              "E 3@I    N@1 N\r"
                              "H b1      3b O\r"
                              "E4    63    4N\r"
                              " IJIIsKKsIIJI";

// Every global of this file back to its start value.
static void SV_RESETCORE() {
  NET_PORT = 35700;
  NET_FAILLINE.clear();
  NET_BUF = {};
  NET_BUFP = 1;
  NET_BUFEND = 1;
  SV_PINGVAR = 0;
  SV_CLIENTSLIST = {};
  SV_BOTC = 0;
  SV_MAP = {};
  SV_MAPL = {};
  SV_NAME = "Brastok Server";
  SV_LOG = {};
  SV_LOGI = 0;
  SV_CURCLIENTS = 0;
  SV_CURPLAYERS = 0;
  SV_MAXPLAYERS = 10;
  SV_SCORELIMIT = 20;
  SV_TEAMPLAY = 0;
  SV_SCOREBOARD = 0;
  SV_BOTCOUNT = 0;
  SV_BOTTEAMS = 4;
  NET_IP.clear();
  SV_MAPDIR = "maps";
  SV_STRICT = 0;
  SV_BOTFILL = 0;
  BOT_RANDSEED = BOT_RANDSTART;
  NET_CONNLOG = {};
  SV_CYCLES = 0;
  SV_CLAIMS = 0;
  SV_NOWMS = 0;
  SV_UTCMS = 0;
  SV_STATS = {};
  SV_QUITASKED = false;
  OPT_HTTP.clear();
  OPT_LOG.clear();
  OPT_RECORD.clear();
  OPT_RECORDMAX = 1024;
  OPT_AGONES = 0;
  OPT_VOTES = 0;
  OPT_HTTPCERT.clear();
  OPT_HTTPKEY.clear();
}

void SV_RESETSTATE() {
  SV_RESETCORE();
  HOOK_RESET();
}

namespace {
// The globals hold their start values before main() runs, as in a fresh
// process; tests call SV_RESETSTATE themselves. The edge's state, defined in
// files whose globals may not be constructed yet, starts from its own
// initialisers, which its reset restores.
struct TStartValues {
  TStartValues() { SV_RESETCORE(); }
} START_VALUES;
} // namespace
