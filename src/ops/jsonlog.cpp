// The JSON event-log file (-log FILE): one JSON object per event-log line and
// per map load, each written and flushed as it happens, so a stats pipeline
// can follow the file. SIGHUP reopens it, for logrotate.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "ops/ops.hpp"
#include "server/server.hpp"

using OPS_JSON = nlohmann::ordered_json;

std::string OPS_LOGPATH;
static std::FILE* OPS_LOGF = nullptr;
// A write error is reported once per opened file, not once per line.
static bool OPS_LOGFAILED = false;

std::FILE* OPS_OPENFILE(const std::string& PATH, const char* MODE, bool PRIVATE) {
#ifdef _WIN32
  (void)PRIVATE;
  std::FILE* F = std::fopen(PATH.c_str(), MODE);
#else
  // Not inherited by anything the server might start.
  std::FILE* F = nullptr;
  if (PRIVATE) {
    int FD = open(PATH.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    F = FD < 0 ? nullptr : fdopen(FD, MODE);
  } else {
    F = std::fopen(PATH.c_str(), (std::string(MODE) + "e").c_str());
  }
#endif
  // Unbuffered: each write of the edge is one system call, so what a reader
  // of the file sees, or what a killed server leaves, is whole records.
  if (F != nullptr) {
    std::setvbuf(F, nullptr, _IONBF, 0);
  }
  return F;
}

bool OPS_WRITEFILE(std::FILE* F, std::string_view TEXT) {
  bool OK = std::fwrite(TEXT.data(), 1, TEXT.size(), F) == TEXT.size();
  OK = std::fflush(F) == 0 && OK;
  std::clearerr(F);
  return OK;
}

bool OPS_LOGOPEN(const std::string& PATH, std::string& ERR) {
  std::FILE* F = OPS_OPENFILE(PATH, "ab", false);
  if (F == nullptr) {
    ERR = "cannot open log file " + PATH + ": " + std::strerror(errno);
    return false;
  }
  OPS_LOGCLOSE();
  OPS_LOGPATH = PATH;
  OPS_LOGF = F;
  OPS_LOGFAILED = false;
  return true;
}

void OPS_LOGREOPEN() {
  if (OPS_LOGF == nullptr) {
    return;
  }
  // The new file is opened before the old one is let go: a rotation that
  // left no writable place keeps the log going where it was.
  std::FILE* F = OPS_OPENFILE(OPS_LOGPATH, "ab", false);
  if (F == nullptr) {
    SC_WARN("cannot reopen log file " + OPS_LOGPATH + ": " + std::strerror(errno) +
            "; still writing to the file open before");
    return;
  }
  std::fclose(OPS_LOGF);
  OPS_LOGF = F;
  OPS_LOGFAILED = false;
}

void OPS_LOGCLOSE() {
  if (OPS_LOGF != nullptr) {
    std::fclose(OPS_LOGF);
  }
  OPS_LOGF = nullptr;
  OPS_LOGPATH.clear();
}

std::string OPS_UTF8TEXT(std::string_view S) {
  std::string R;
  R.reserve(S.size());
  size_t I = 0;
  while (I < S.size()) {
    unsigned char C = static_cast<unsigned char>(S[I]);
    // The length of a well-formed UTF-8 sequence starting here, or 0:
    // overlong forms, surrogates and code points past U+10FFFF are not.
    size_t N = 0;
    if (C < 0x80) {
      N = 1;
    } else if (C >= 0xC2 && C <= 0xF4) {
      size_t WANT = C < 0xE0 ? 2 : C < 0xF0 ? 3 : 4;
      unsigned char LO = 0x80;
      unsigned char HI = 0xBF;
      if (C == 0xE0) {
        LO = 0xA0;
      } else if (C == 0xED) {
        HI = 0x9F;
      } else if (C == 0xF0) {
        LO = 0x90;
      } else if (C == 0xF4) {
        HI = 0x8F;
      }
      size_t K = 1;
      while (K < WANT && I + K < S.size()) {
        unsigned char D = static_cast<unsigned char>(S[I + K]);
        if (D < (K == 1 ? LO : 0x80) || D > (K == 1 ? HI : 0xBF)) {
          break;
        }
        K++;
      }
      N = K == WANT ? WANT : 0;
    }
    if (N > 0) {
      R.append(S.substr(I, N));
      I += N;
      continue;
    }
    // Not UTF-8: the byte is read as its Latin-1 character.
    R += char(0xC0 | (C >> 6));
    R += char(0x80 | (C & 0x3F));
    I++;
  }
  return R;
}

// UTC with milliseconds: 2026-12-07T11:52:03.128Z.
static std::string OPS_UTCTEXT() {
  using namespace std::chrono;
  auto NOW = floor<milliseconds>(system_clock::now());
  auto DAY = floor<days>(NOW);
  year_month_day YMD{DAY};
  hh_mm_ss<milliseconds> HMS{NOW - DAY};
  char TEXT[32];
  std::snprintf(TEXT, sizeof TEXT, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(YMD.year()),
                unsigned(YMD.month()), unsigned(YMD.day()), int(HMS.hours().count()),
                int(HMS.minutes().count()), int(HMS.seconds().count()),
                int(HMS.subseconds().count()));
  return TEXT;
}

static void OPS_LOGWRITE(const OPS_JSON& J) {
  std::string TEXT = J.dump();
  TEXT += '\n';
  // One record at a time, flushed at once: a reader following the file sees
  // whole lines, and nothing waits in a buffer.
  if (!OPS_WRITEFILE(OPS_LOGF, TEXT) && !OPS_LOGFAILED) {
    OPS_LOGFAILED = true;
    SC_WARN("cannot write log file " + OPS_LOGPATH + ": " + std::strerror(errno) +
            "; records are lost until it can be written again (reported once)");
  }
}

static OPS_JSON OPS_LOGRECORD(const char* KIND) {
  OPS_JSON J;
  J["time"] = OPS_UTCTEXT();
  J["tick"] = SV_PINGVAR;
  if (std::strcmp(KIND, "map") != 0) {
    J["line"] = SV_LOGI;
  }
  J["kind"] = KIND;
  return J;
}

static std::string OPS_SLOTNAME(uint8_t SLOT) {
  return SLOT >= 1 && SLOT <= MAXCLIENTS ? OPS_UTF8TEXT(SV_CLIENTSLIST[SLOT].NAME) : "";
}

// The kind name of each event-log kind, and whether its record carries the
// slot and name of its first argument.
struct OPS_LOGKIND {
  uint8_t ID;
  const char* NAME;
  bool SLOT;
};
static const OPS_LOGKIND OPS_LOGKINDS[] = {
    {LOGMESSID_CCON, "connect", true},    {LOGMESSID_CDCON, "disconnect", true},
    {LOGMESSID_COUT, "timeout", true},    {LOGMESSID_CHAT, "chat", true},
    {LOGMESSID_KILL, "kill", false},      {LOGMESSID_ENTER, "enter", true},
    {LOGMESSID_LEAVE, "leave", true},     {LOGMESSID_SCORE, "win", true},
    {LOGMESSID_TSCORE, "teamwin", false}, {LOGMESSID_SMSG, "notice", false},
};

void OPS_JSONLOG(const std::string& LINE) {
  if (OPS_LOGF == nullptr || LINE.empty()) {
    return;
  }
  const OPS_LOGKIND* K = nullptr;
  for (const OPS_LOGKIND& E : OPS_LOGKINDS) {
    if (E.ID == uint8_t(LINE[0])) {
      K = &E;
    }
  }
  if (K == nullptr) {
    return; // a kind the server never logs: the console shows nothing either
  }
  auto ARG = [&](size_t I) { return I < LINE.size() ? uint8_t(LINE[I]) : uint8_t(0); };
  std::string_view REST = LINE.size() > 2 ? std::string_view(LINE).substr(2) : "";
  OPS_JSON J = OPS_LOGRECORD(K->NAME);
  if (K->SLOT) {
    J["slot"] = ARG(1);
    J["name"] = OPS_SLOTNAME(ARG(1));
  }
  switch (uint8_t(LINE[0])) {
  case LOGMESSID_CCON:
    J["team"] = ARG(2);
    break;
  case LOGMESSID_CHAT:
    J["text"] = OPS_UTF8TEXT(REST);
    break;
  case LOGMESSID_KILL:
    J["weapon"] = ARG(1) >= 1 && ARG(1) <= NUMGUNS ? GUNS_NAME[ARG(1)] : "";
    J["killer_slot"] = ARG(2);
    J["killer"] = OPS_SLOTNAME(ARG(2));
    J["victim_slot"] = ARG(3);
    J["victim"] = OPS_SLOTNAME(ARG(3));
    break;
  case LOGMESSID_TSCORE:
    J["team"] = ARG(1);
    J["team_name"] = ARG(1) < MAXTEAMS ? TEAMNAME[ARG(1)] : "";
    break;
  case LOGMESSID_SMSG:
    J["text"] = OPS_UTF8TEXT(std::string_view(LINE).substr(1));
    break;
  default:
    break;
  }
  OPS_LOGWRITE(J);
}

void OPS_JSONMAP(uint8_t I) {
  if (OPS_LOGF == nullptr) {
    return;
  }
  OPS_JSON J = OPS_LOGRECORD("map");
  J["map"] = OPS_UTF8TEXT(SV_MAPL[I].NAME);
  J["entry"] = I;
  OPS_LOGWRITE(J);
}
