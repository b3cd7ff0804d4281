// The JSON event-log file (-log FILE): one JSON object per event-log line,
// per map load and per command run (console's or admin API's), each written
// and flushed as it happens, so a stats pipeline can follow the file. SIGHUP reopens it, for
// logrotate.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "record/record.hpp"
#include "server/server.hpp"
#include "status/status.hpp"

using TJSON = nlohmann::ordered_json;

// Whether the file at PATH ends inside a line (a server killed in the
// middle of a record left it so): the next record starts a line of its own.
static bool REC_ENDSINLINE(const std::string& PATH) {
  std::ifstream F(PATH, std::ios::binary | std::ios::ate);
  if (!F.is_open() || F.tellg() <= 0) {
    return false;
  }
  F.seekg(-1, std::ios::end);
  return F.get() != '\n';
}

bool REC_LOGOPEN(const std::string& PATH, std::string& ERR) {
  std::FILE* F = REC_OPENFILE(PATH, "ab", false);
  if (F == nullptr) {
    ERR = "cannot open log file " + PATH + ": " + std::strerror(errno);
    return false;
  }
  REC_LOGCLOSE();
  REC_LOGPATH = PATH;
  REC_LOGF = F;
  REC_LOGFAILED = false;
  REC_LOGBROKEN = REC_ENDSINLINE(PATH);
  return true;
}

void REC_LOGREOPEN() {
  if (REC_LOGF == nullptr) {
    return;
  }
  // The new file is opened before the old one is let go: a rotation that
  // left no writable place keeps the log going where it was.
  std::FILE* F = REC_OPENFILE(REC_LOGPATH, "ab", false);
  if (F == nullptr) {
    SC_WARN("cannot reopen log file " + REC_LOGPATH + ": " + std::strerror(errno) +
            "; still writing to the file open before");
    return;
  }
  std::fclose(REC_LOGF);
  REC_LOGF = F;
  REC_LOGFAILED = false;
  REC_LOGBROKEN = REC_ENDSINLINE(REC_LOGPATH);
}

void REC_LOGCLOSE() {
  if (REC_LOGF != nullptr) {
    std::fclose(REC_LOGF);
  }
  REC_LOGF = nullptr;
  REC_LOGPATH.clear();
}

static void REC_LOGWRITE(const TJSON& J) {
  std::string TEXT = J.dump();
  TEXT += '\n';
  if (REC_LOGBROKEN) {
    TEXT.insert(0, 1, '\n'); // the broken piece ends its line; this record has its own
  }
  // One record at a time, flushed at once: a reader following the file sees
  // whole lines, and nothing waits in a buffer.
  bool BROKEN = false;
  bool OK = REC_WRITEFILE(REC_LOGF, TEXT, &BROKEN);
  REC_LOGBROKEN = !OK && (REC_LOGBROKEN || BROKEN);
  if (!OK && !REC_LOGFAILED) {
    REC_LOGFAILED = true;
    SC_WARN("cannot write log file " + REC_LOGPATH + ": " + std::strerror(errno) +
            "; records are lost until it can be written again (reported once)");
  }
}

static TJSON REC_LOGRECORD(const char* KIND) {
  TJSON J;
  J["time"] = SC_UTCTEXT(SC_UTCNOWMS(), true);
  J["tick"] = SV_PINGVAR;
  if (std::strcmp(KIND, "map") != 0 && std::strcmp(KIND, "admin") != 0) {
    J["line"] = SV_LOGI;
  }
  J["kind"] = KIND;
  return J;
}

static std::string REC_SLOTNAME(uint8_t SLOT) {
  return SLOT >= 1 && SLOT <= MAXCLIENTS ? STATUS_UTF8TEXT(SV_CLIENTSLIST[SLOT].NAME) : "";
}

// The kind name of each event-log kind, and whether its record carries the
// slot and name of its first argument.
struct TLOGKIND {
  uint8_t ID;
  const char* NAME;
  bool SLOT;
};
static const TLOGKIND REC_LOGKINDS[] = {
    {LOGMESSID_CCON, "connect", true},    {LOGMESSID_CDCON, "disconnect", true},
    {LOGMESSID_COUT, "timeout", true},    {LOGMESSID_CHAT, "chat", true},
    {LOGMESSID_KILL, "kill", false},      {LOGMESSID_ENTER, "enter", true},
    {LOGMESSID_LEAVE, "leave", true},     {LOGMESSID_SCORE, "win", true},
    {LOGMESSID_TSCORE, "teamwin", false}, {LOGMESSID_SMSG, "notice", false},
};

void REC_JSONLOG(const std::string& LINE) {
  if (REC_LOGF == nullptr || LINE.empty()) {
    return;
  }
  const TLOGKIND* K = nullptr;
  for (const TLOGKIND& E : REC_LOGKINDS) {
    if (E.ID == uint8_t(LINE[0])) {
      K = &E;
    }
  }
  if (K == nullptr) {
    return; // a kind the server never logs: the console shows nothing either
  }
  auto ARG = [&](size_t I) { return I < LINE.size() ? uint8_t(LINE[I]) : uint8_t(0); };
  std::string_view REST = LINE.size() > 2 ? std::string_view(LINE).substr(2) : "";
  TJSON J = REC_LOGRECORD(K->NAME);
  if (K->SLOT) {
    J["slot"] = ARG(1);
    J["name"] = REC_SLOTNAME(ARG(1));
  }
  switch (uint8_t(LINE[0])) {
  case LOGMESSID_CCON:
    J["team"] = ARG(2);
    break;
  case LOGMESSID_CHAT:
    J["text"] = STATUS_UTF8TEXT(REST);
    break;
  case LOGMESSID_KILL:
    J["weapon"] = ARG(1) >= 1 && ARG(1) <= NUMGUNS ? GUNS_NAME[ARG(1)] : "";
    J["killer_slot"] = ARG(2);
    J["killer"] = REC_SLOTNAME(ARG(2));
    J["victim_slot"] = ARG(3);
    J["victim"] = REC_SLOTNAME(ARG(3));
    break;
  case LOGMESSID_TSCORE:
    J["team"] = ARG(1);
    J["team_name"] = ARG(1) < MAXTEAMS ? TEAMNAME[ARG(1)] : "";
    break;
  case LOGMESSID_SMSG:
    J["text"] = STATUS_UTF8TEXT(std::string_view(LINE).substr(1));
    break;
  default:
    break;
  }
  REC_LOGWRITE(J);
}

void REC_JSONMAP(uint8_t I) {
  if (REC_LOGF == nullptr) {
    return;
  }
  TJSON J = REC_LOGRECORD("map");
  J["map"] = STATUS_UTF8TEXT(SV_MAPL[I].NAME);
  J["entry"] = I;
  REC_LOGWRITE(J);
}

void REC_JSONADMIN(const std::string& ADMIN, const std::string& ADDRESS, const std::string& COMMAND,
                   bool OK) {
  if (REC_LOGF == nullptr) {
    return;
  }
  TJSON J = REC_LOGRECORD("admin");
  J["admin"] = STATUS_UTF8TEXT(ADMIN);
  if (ADDRESS.empty()) {
    J["address"] = nullptr;
  } else {
    J["address"] = ADDRESS;
  }
  J["command"] = STATUS_UTF8TEXT(COMMAND);
  J["ok"] = OK;
  REC_LOGWRITE(J);
}
