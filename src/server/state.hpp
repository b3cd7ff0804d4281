// Server state: every limit, record, table and global of the server.
//
// All state is global and lives for the whole run. The procedures of every
// subsystem read and write these globals directly; there is no accessor layer.
// SV_RESETSTATE puts every global back to its start value, so that each test
// starts from a freshly started process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// ---------------------------------------------------------------------------
// Arrays numbered from a first index other than 0 (slots 1..24, buffer
// positions 1..5000, ...). The index is checked in debug and sanitizer builds.
// ---------------------------------------------------------------------------

#ifdef NDEBUG
#define BRASTOK_CHECK(cond) ((void)0)
#else
#define BRASTOK_CHECK(cond)                                                                        \
  ((cond) ? (void)0                                                                                \
          : (std::fprintf(stderr, "%s:%d: index check failed: %s\n", __FILE__, __LINE__, #cond),   \
             std::abort()))
#endif

template <typename T, int LO, int HI>
struct TArr {
  static_assert(HI >= LO);
  T V[HI - LO + 1];

  T& operator[](int I) {
    BRASTOK_CHECK(I >= LO && I <= HI);
    return V[I - LO];
  }
  const T& operator[](int I) const {
    BRASTOK_CHECK(I >= LO && I <= HI);
    return V[I - LO];
  }
  static constexpr int LOW = LO;
  static constexpr int HIGH = HI;
};

// ---------------------------------------------------------------------------
// Limits and constants
// ---------------------------------------------------------------------------

constexpr uint8_t PVER = 29; // protocol version a connect must carry
// This server's own release, as status pages and packages show it.
constexpr const char* SV_VERSION = "1.0.0";
constexpr double DEGTORAD = 0.0174532925;
constexpr int MAXCLIENTS = 24;
constexpr int MAXLOG = 96; // highest index of the event-log list
constexpr int MAXMAPLIST = 24;
constexpr int MAXMAPGRIDI = 64; // playable cells per side
constexpr int MAXMAPGRIDO = 65; // highest stored cell index per side
constexpr int MAXMAPBUFFER = 4222;
constexpr int MAXMAPITEMS = 128;
constexpr int MAXMAPSPAWNS = 64;
constexpr int MAXBUFFER = 5000;
constexpr int MAPGRIDSIZE = 64;
constexpr int MAPGRIDHSIZE = 32;
constexpr int MAXMISSLMESS = 10;
constexpr int MAXTEAMS = 4;
constexpr uint8_t SENDLLTIME = 15;
constexpr uint8_t CHATTIME = 60;
constexpr int FPS_INT = 30;
constexpr uint8_t FPS_NUM = 33;
constexpr uint16_t SCOREBOARDTIME = 495;
constexpr uint8_t PLAYERTTL = 255;
constexpr int PLAYERSPEED = 11;
constexpr int PLAYERWWIDTH = 15;
constexpr int PLAYERBWIDTH = 30;
constexpr uint8_t PLAYERMAXHITS = 100;
constexpr uint8_t PLAYERMAXARMOR = 100;
extern const TArr<uint8_t, 1, 2> PLAYERMAXAMMO;
extern const TArr<uint8_t, 1, 2> PLAYERSTARTAMMO;
constexpr uint8_t PLAYERSTARTGUN = 2;
constexpr uint8_t PLAYERSTARTARMOR = 25;
constexpr uint8_t PLAYERRESPTIME = 30;
constexpr size_t PLAYERMAXNAME = 20;
constexpr uint8_t UNHEARDTICKS = 33;

// Message identifiers: the first byte of every datagram.
constexpr uint8_t SVMPMSG_CCON = 102;
constexpr uint8_t SVMPMSG_CDCON = 103;
constexpr uint8_t SVMPMSG_CDAT = 104;
constexpr uint8_t SVMPMSG_CCHAT = 105;
constexpr uint8_t CLMPMSG_GINFO = 107; // reserved, never sent
constexpr uint8_t CLMPMSG_MAP = 108;
constexpr uint8_t CLMPMSG_LOGL = 109;
constexpr uint8_t CLMPMSG_SHAP = 110;
constexpr uint8_t CLMPMSG_NOCON = 111;
constexpr uint8_t CLMPMSG_WVER = 112;
constexpr uint8_t CLMPMSG_SVFULL = 113;

// Event-log line kinds: the first character of every stored line.
constexpr uint8_t LOGMESSID_CCON = 1;
constexpr uint8_t LOGMESSID_CDCON = 2;
constexpr uint8_t LOGMESSID_COUT = 3;
constexpr uint8_t LOGMESSID_CHAT = 4;
constexpr uint8_t LOGMESSID_KILL = 5;
constexpr uint8_t LOGMESSID_ENTER = 6;
constexpr uint8_t LOGMESSID_LEAVE = 7;
constexpr uint8_t LOGMESSID_SCORE = 8;
constexpr uint8_t LOGMESSID_TSCORE = 9;
constexpr uint8_t LOGMESSID_SMSG = 10;

// Player states as sent to clients.
constexpr uint8_t PS_NONE = 0;
constexpr uint8_t PS_SPEC = 1;
constexpr uint8_t PS_DEAD = 2;
constexpr uint8_t PS_LIVE = 3;
constexpr uint8_t PS_ATTA = 4;

// Action codes of the data message.
constexpr uint8_t PLACT_G1 = 1;
constexpr uint8_t PLACT_G5 = 5;
constexpr uint8_t PLACT_AR = 10;
constexpr uint8_t PLACT_SJ = 11;
constexpr uint8_t PLACT_MI = 15;

// Cell classes of the grid.
constexpr uint8_t CG_N = 0; // free
constexpr uint8_t CG_B = 1; // blocks players, bullets and the sight of bots
constexpr uint8_t CG_P = 2; // blocks players only

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

struct TCLIENT {
  std::string NAME; // at most PLAYERMAXNAME characters
  std::string IP;   // dotted IPv4 text, "0.0.0.0" for bots
  uint16_t PORT;
  uint16_t X, Y;
  uint16_t MX, MY;
  uint16_t DIR;
  uint16_t LOGI;
  uint16_t PVAR;
  TArr<bool, 1, 5> GUNS;
  TArr<uint8_t, 1, 2> AMMO;
  bool PLAY;
  bool EXIST;
  bool BOT;
  uint8_t PING;
  uint8_t SCORE;
  uint8_t GUN;
  uint8_t NGUN;
  uint8_t HITS;
  uint8_t ARMOR;
  uint8_t TEAM;
  uint8_t ACT;
  uint8_t T_GANIM;
  uint8_t T_RELOAD;
  uint8_t T_TTL;
  uint8_t T_MMSGS;
  uint8_t T_SJ;
  uint8_t T_CHAT;
  uint8_t T_SL;
  uint8_t T_MAP;
  uint16_t B_MX, B_MY;
  uint16_t B_MDIR;
  uint8_t B_EN;
  // A client is heard once any datagram but a connect came from its address
  // and port since it connected. Until then it is sent packets for at most
  // UNHEARDTICKS ticks, counted here: a forged connect cannot turn the server
  // into a flood of somebody else's address.
  bool HEARD;
  uint8_t T_UNHEARD;
  // When the slot was claimed, in claims since start: the newest bot is the
  // one with the highest.
  uint64_t CLAIMNO;
};

struct TITEM {
  uint16_t RESP; // ticks until the item is back; 0 means present
  uint16_t X, Y;
  char KIND; // '0'..'9'; the character 0 marks an empty place
};

struct TRESPPOINT {
  uint16_t X, Y;
};

struct TMAPINLIST {
  std::string NAME;
  TArr<char, 1, MAXMAPBUFFER> MAP; // map text, terminated by the character 0
};

struct TMAPCUR {
  TArr<TArr<uint8_t, 0, MAXMAPGRIDO>, 0, MAXMAPGRIDO> CGRID; // [x][y]
  TArr<TITEM, 1, MAXMAPITEMS> ITL;
  uint8_t ITN;
  TArr<TRESPPOINT, 1, MAXMAPSPAWNS> SPL;
  uint8_t SPN;
  uint8_t NUM;
};

using TNET_BUFFER = TArr<uint8_t, 1, MAXBUFFER>;

// ---------------------------------------------------------------------------
// Globals
// ---------------------------------------------------------------------------

extern uint16_t NET_PORT;
// The line a failed NET_START printed ("UDP initialization failed! [ socket()
// ]"): a recording keeps which, so that its replay prints the same.
extern std::string NET_FAILLINE;
extern TNET_BUFFER NET_BUF;
extern uint16_t NET_BUFP;
// One past the highest position of NET_BUF that may hold a byte other than 0
// since it was last cleared, so that clearing touches only what was used.
// The writers keep it, and NET_LOADBUFFER for a datagram received.
extern uint16_t NET_BUFEND;

extern uint16_t SV_PINGVAR;
extern TArr<TCLIENT, 1, MAXCLIENTS> SV_CLIENTSLIST;
extern uint8_t SV_BOTC;
extern TMAPCUR SV_MAP;
extern TArr<TMAPINLIST, 1, MAXMAPLIST> SV_MAPL;
extern std::string SV_NAME;
extern TArr<std::string, 0, MAXLOG> SV_LOG;
extern uint16_t SV_LOGI;
extern uint8_t SV_CURCLIENTS;
extern uint8_t SV_CURPLAYERS;
extern uint8_t SV_MAXPLAYERS;
extern uint8_t SV_SCORELIMIT;
extern uint8_t SV_TEAMPLAY;
extern uint16_t SV_SCOREBOARD;
extern uint8_t SV_BOTCOUNT;
extern uint8_t SV_BOTTEAMS;
// The local IPv4 address the socket is bound to, dotted text; empty for all.
extern std::string NET_IP;
// Folder that "-map NAME" files are looked up in.
extern std::string SV_MAPDIR;
// Not 0: a start-up that would warn fails instead.
extern uint8_t SV_STRICT;
// Not 0: the bots wanted are a fill that makes room for humans.
extern uint8_t SV_BOTFILL;

// Connect messages taken per sender address: at most CONNMAX in any
// CONNWINDOWMS milliseconds of SV_NOWMS (10 seconds in whole 30 ms ticks,
// CONNWINDOW of them), measured in real time whether the game runs or stands
// still. A small open-addressed table keyed by the address text; an
// address's entry keeps the times of its last CONNMAX connects, newest at
// CONNAT[0].
constexpr int CONNMAX = 24;
constexpr uint32_t CONNWINDOW = 10000 / 30;
constexpr int64_t CONNWINDOWMS = int64_t(CONNWINDOW) * 30;
constexpr int CONNTABLE = 1024;
struct TCONNLOG {
  std::string IP;
  TArr<int64_t, 0, CONNMAX - 1> CONNAT;
  uint8_t N; // connects recorded, at most CONNMAX
};
extern TArr<TCONNLOG, 0, CONNTABLE - 1> NET_CONNLOG;
// Game cycles since start (every cycle, with or without a human).
extern uint32_t SV_CYCLES;
// Slots claimed since start, by clients and bots (see TCLIENT::CLAIMNO).
extern uint64_t SV_CLAIMS;
// Milliseconds of a monotonic clock, read once by the main loop before each
// cycle (tests and a replay set it themselves). The game rules never read it;
// it serves what must be measured in real time at the edge (rate limits).
extern int64_t SV_NOWMS;
// Milliseconds since the Unix epoch (UTC), read by the main loop beside
// SV_NOWMS: only for times written for people (ban expiry in the ban file).
extern int64_t SV_UTCMS;

// The one random source: the bots' choice of a walk goal. Seeded with a fixed
// value, never from the clock, so the same input plays the same match.
constexpr uint32_t BOT_RANDSTART = 0;
extern uint32_t BOT_RANDSEED;

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

constexpr int NUMGUNS = 5;
extern const TArr<const char*, 1, NUMGUNS> GUNS_NAME;
extern const TArr<uint8_t, 1, NUMGUNS> GUNS_DAMAGE;
extern const TArr<uint8_t, 1, NUMGUNS> GUNS_RELOAD;
extern const TArr<uint8_t, 1, NUMGUNS> GUNS_GANIM;
extern const TArr<uint8_t, 1, NUMGUNS> GUNS_DISPER;
extern const TArr<uint8_t, 1, NUMGUNS> GUNS_AMTYPE;
extern const TArr<uint8_t, 1, NUMGUNS> GUNS_AMTAKE;
extern const TArr<uint16_t, 1, NUMGUNS> GUNS_BSTEP;
extern const TArr<uint16_t, 1, NUMGUNS> GUNS_BDIST;

// Item tables, indexed by the item character '0'..'9'.
extern const TArr<uint8_t, '0', '9'> ITEMSP_GUN;
extern const TArr<uint8_t, '0', '9'> ITEMSP_HITS;
extern const TArr<uint8_t, '0', '9'> ITEMSP_ARMOR;
extern const TArr<TArr<uint8_t, '0', '9'>, 1, 2> ITEMSP_AMMO; // [kind][item]
extern const TArr<uint16_t, '0', '9'> ITEMSP_RESPT;

extern const TArr<const char*, 0, MAXTEAMS - 1> TEAMCHAR;
extern const TArr<const char*, 0, MAXTEAMS - 1> TEAMNAME;

extern const char* const STR_CCON;
extern const char* const STR_DCON;
extern const char* const STR_COUT;
extern const char* const STR_CENT;
extern const char* const STR_CLEV;
extern const char* const STR_CWIN;
extern const char* const STR_TEAM;

// Cell character sets of the map text.
inline bool MAP_PWALLS(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'e' && C <= 'z');
}
inline bool MAP_BWALLS(char C) {
  return C >= 'A' && C <= 'Z';
}
inline bool MAP_ITEMS(char C) {
  return C >= '0' && C <= '9';
}
inline bool MAP_SPAWNS(char C) {
  return C == '@';
}

// The built-in map, 214 characters.
extern const std::string DEFMAPBUF;

// ---------------------------------------------------------------------------
// Counters and flags the edge reads
// ---------------------------------------------------------------------------

// What the server has counted since start, for the status and the metrics.
// The core bumps these with one plain statement where each thing happens;
// they only ever grow, and wrap after 2^64.
struct TCOUNTERS {
  uint64_t DGIN, BYTESIN;   // datagrams received (dropped ones too), their bytes
  uint64_t DGOUT, BYTESOUT; // datagrams sent, their bytes
  // Datagrams dropped before any handler acted on them, by reason.
  uint64_t DROPEMPTY, DROPOVERSIZED, DROPBUDGET, DROPNOSLOT, DROPCONNLIMIT, DROPBANNED;
  // Connect messages from senders without a slot, by outcome (a connect over
  // the limit counts in DROPCONNLIMIT).
  uint64_t CONNOK, CONNWRONGVER, CONNFULL;
  uint64_t KILLS[NUMGUNS + 1]; // kills by the killer's weapon, 1 to NUMGUNS
  uint64_t LOGLINES;           // event-log lines
  uint64_t TICKS;              // ticks played (the tick counter wraps, this does not)
  uint32_t MAPLOADS;           // maps loaded: a change means a new map text
};
extern TCOUNTERS SV_STATS;
// Set by the console's quit: the main loop stops as on SIGTERM.
extern bool SV_QUITASKED;

// Puts every global above back to its start value, and the edge's state
// too (HOOK_RESET).
void SV_RESETSTATE();
