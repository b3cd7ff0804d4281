// The JSON event-log file (-log FILE): one JSON object per event-log line and
// per map load, each written and flushed as it happens, so a stats pipeline
// can follow the file. SIGHUP reopens it, for logrotate.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "ops/ops.hpp"
#include "server/server.hpp"

using OPS_JSON = nlohmann::ordered_json;

std::string OPS_LOGPATH;
static int OPS_LOGFD = -1;
// A write error is reported once per opened file, not once per line.
static bool OPS_LOGFAILED = false;

static int OPS_LOGOPENFD(const std::string& PATH) {
  return open(PATH.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

bool OPS_LOGOPEN(const std::string& PATH, std::string& ERR) {
  int FD = OPS_LOGOPENFD(PATH);
  if (FD < 0) {
    ERR = "cannot open log file " + PATH + ": " + std::strerror(errno);
    return false;
  }
  OPS_LOGCLOSE();
  OPS_LOGPATH = PATH;
  OPS_LOGFD = FD;
  OPS_LOGFAILED = false;
  return true;
}

void OPS_LOGREOPEN() {
  if (OPS_LOGFD < 0) {
    return;
  }
  // The new file is opened before the old one is let go: a rotation that
  // left no writable place keeps the log going where it was.
  int FD = OPS_LOGOPENFD(OPS_LOGPATH);
  if (FD < 0) {
    SC_WARN("cannot reopen log file " + OPS_LOGPATH + ": " + std::strerror(errno) +
            "; still writing to the file open before");
    return;
  }
  close(OPS_LOGFD);
  OPS_LOGFD = FD;
  OPS_LOGFAILED = false;
}

void OPS_LOGCLOSE() {
  if (OPS_LOGFD >= 0) {
    close(OPS_LOGFD);
  }
  OPS_LOGFD = -1;
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
  timespec T;
  clock_gettime(CLOCK_REALTIME, &T);
  tm UTC;
  gmtime_r(&T.tv_sec, &UTC);
  char TEXT[32];
  size_t N = std::strftime(TEXT, sizeof TEXT, "%Y-%m-%dT%H:%M:%S", &UTC);
  std::snprintf(TEXT + N, sizeof TEXT - N, ".%03dZ", int(T.tv_nsec / 1000000));
  return TEXT;
}

static void OPS_LOGWRITE(const OPS_JSON& J) {
  std::string TEXT = J.dump();
  TEXT += '\n';
  // One write per record: a reader following the file sees whole lines, and
  // nothing waits in a buffer.
  size_t DONE = 0;
  while (DONE < TEXT.size()) {
    ssize_t R = write(OPS_LOGFD, TEXT.data() + DONE, TEXT.size() - DONE);
    if (R < 0 && errno == EINTR) {
      continue;
    }
    if (R <= 0) {
      if (!OPS_LOGFAILED) {
        OPS_LOGFAILED = true;
        SC_WARN("cannot write log file " + OPS_LOGPATH + ": " +
                std::strerror(R < 0 ? errno : ENOSPC) +
                "; records are lost until it can be written again (reported once)");
      }
      return;
    }
    DONE += size_t(R);
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
  if (OPS_LOGFD < 0 || LINE.empty()) {
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
  if (OPS_LOGFD < 0) {
    return;
  }
  OPS_JSON J = OPS_LOGRECORD("map");
  J["map"] = OPS_UTF8TEXT(SV_MAPL[I].NAME);
  J["entry"] = I;
  OPS_LOGWRITE(J);
}
