// The admins of the admin API: the admins file, the roles, the look-up of a
// token, and the making of a new token.
//
// The file holds one admin a line, "NAME ROLE sha256:HEX", HEX the SHA-256
// of the admin's token in lower-case hex: a stolen file lets nobody in. The
// game thread reads it (at start and on SIGHUP) and the HTTP thread looks
// tokens up in it, so the list changes and is read under ADM_ADMINSMX.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "admin/admin.hpp"
#include "hooks.hpp"
#include "server/server.hpp"

// The role names, by role.
static const char* const ADM_ROLES[] = {"", "moderator", "admin"};

uint8_t ADM_ROLEOF(std::string_view NAME) {
  for (uint8_t R = ADM_MODERATOR; R <= ADM_ADMIN; R++) {
    if (NAME == ADM_ROLES[R]) {
      return R;
    }
  }
  return 0;
}

const char* ADM_ROLENAME(uint8_t ROLE) {
  return ROLE <= ADM_ADMIN ? ADM_ROLES[ROLE] : "";
}

bool ADM_MAYRUN(uint8_t ROLE, const TCOMMAND& C) {
  uint8_t NEEDS = ADM_ROLEOF(C.ROLE);
  return NEEDS != 0 && ROLE >= NEEDS;
}

bool ADM_GOODNAME(std::string_view NAME) {
  if (NAME.empty() || NAME.size() > 32 || NAME == "console") {
    return false;
  }
  for (char C : NAME) {
    bool OK = (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') ||
              C == '.' || C == '_' || C == '-';
    if (!OK) {
      return false;
    }
  }
  return true;
}

// Lower-case hex of 64 digits into a digest.
static bool ADM_HEXDIGEST(std::string_view HEX, std::array<uint8_t, 32>& D) {
  if (HEX.size() != 64) {
    return false;
  }
  for (size_t K = 0; K < 64; K++) {
    char C = HEX[K];
    int V = C >= '0' && C <= '9' ? C - '0' : C >= 'a' && C <= 'f' ? C - 'a' + 10 : -1;
    if (V < 0) {
      return false;
    }
    D[K / 2] = uint8_t(K % 2 == 0 ? V << 4 : D[K / 2] | V);
  }
  return true;
}

static std::string ADM_HEX(const uint8_t* B, size_t N) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string S;
  for (size_t K = 0; K < N; K++) {
    S += DIGITS[B[K] >> 4];
    S += DIGITS[B[K] & 15];
  }
  return S;
}

std::vector<TADMIN> ADM_ADMINSPARSE(const std::string& TEXT, const std::string& PATH) {
  std::vector<TADMIN> L;
  size_t AT = 0;
  for (int N = 1; AT < TEXT.size(); N++) {
    size_t END = TEXT.find('\n', AT);
    std::string LINE = TEXT.substr(AT, END == std::string::npos ? std::string::npos : END - AT);
    AT = END == std::string::npos ? TEXT.size() : END + 1;
    LINE = LINE.substr(0, LINE.find('#'));
    std::vector<std::string> W;
    size_t P = 0;
    while (P < LINE.size()) {
      size_t B = LINE.find_first_not_of(" \t\r", P);
      if (B == std::string::npos) {
        break;
      }
      P = LINE.find_first_of(" \t\r", B);
      W.push_back(LINE.substr(B, P == std::string::npos ? std::string::npos : P - B));
      P = P == std::string::npos ? LINE.size() : P;
    }
    if (W.empty()) {
      continue;
    }
    auto BAD = [&](const std::string& WHY) {
      SC_WARN("admins file " + PATH + " line " + std::to_string(N) + ": " + WHY +
              "; the line is left out");
    };
    TADMIN A{};
    if (W.size() != 3) {
      BAD("not NAME ROLE sha256:HEX");
    } else if (!ADM_GOODNAME(W[0])) {
      BAD("the name must be 1 to 32 letters, digits, '.', '_' or '-', and not \"console\"");
    } else if ((A.ROLE = ADM_ROLEOF(W[1])) == 0) {
      BAD("no role \"" + W[1] + "\" (moderator or admin)");
    } else if (W[2].rfind("sha256:", 0) != 0 || !ADM_HEXDIGEST(W[2].substr(7), A.DIGEST)) {
      BAD("the token's hash must be sha256: and 64 lower-case hex digits");
    } else {
      A.NAME = W[0];
      bool TWICE = false;
      for (const TADMIN& O : L) {
        if (O.NAME == A.NAME || O.DIGEST == A.DIGEST) {
          BAD(O.NAME == A.NAME ? "the name " + A.NAME + " is taken by an earlier line"
                               : "the same token as " + O.NAME + "'s on an earlier line");
          TWICE = true;
          break;
        }
      }
      if (!TWICE) {
        L.push_back(std::move(A));
      }
    }
  }
  return L;
}

static void ADM_ADMINSSET(std::vector<TADMIN> L) {
  std::lock_guard<std::mutex> LOCK(ADM_ADMINSMX);
  ADM_ADMINS = std::move(L);
}

void ADM_ADMINSFILE(const std::string& PATH) {
  ADM_ADMINSPATH = PATH;
  std::string TEXT;
  if (!HOOK_READTEXT(PATH, TEXT)) {
    SC_WARN("cannot read admins file " + PATH + ": the admin API lets nobody in");
  }
  ADM_ADMINSSET(ADM_ADMINSPARSE(TEXT, PATH));
}

void ADM_ADMINSRELOAD() {
  if (ADM_ADMINSPATH.empty()) {
    return;
  }
  // Straight from the disk: a replay runs no SIGHUP, so the recording must
  // not hold what only the HTTP thread reads.
  std::ifstream F(ADM_ADMINSPATH, std::ios::binary);
  if (!F.is_open()) {
    SC_WARN("cannot read admins file " + ADM_ADMINSPATH + ": " + std::strerror(errno) +
            "; the admins stay as they were");
    return;
  }
  std::string TEXT((std::istreambuf_iterator<char>(F)), std::istreambuf_iterator<char>());
  if (F.bad()) {
    SC_WARN("cannot read admins file " + ADM_ADMINSPATH + "; the admins stay as they were");
    return;
  }
  ADM_ADMINSSET(ADM_ADMINSPARSE(TEXT, ADM_ADMINSPATH));
}

bool ADM_AUTH(std::string_view TOKEN, TADMIN& WHO) {
  std::array<uint8_t, 32> D;
  if (TOKEN.empty() || !ADM_SHA256(TOKEN, D)) {
    return false;
  }
  std::lock_guard<std::mutex> LOCK(ADM_ADMINSMX);
  // Every entry is compared whole, whether one matched already or not.
  const TADMIN* FOUND = nullptr;
  for (const TADMIN& A : ADM_ADMINS) {
    if (ADM_SAMEDIGEST(A.DIGEST, D)) {
      FOUND = &A;
    }
  }
  if (FOUND != nullptr) {
    WHO = *FOUND;
  }
  return FOUND != nullptr;
}

int ADM_NEWADMIN(const std::string& NAME, const std::string& ROLE) {
  if (!ADM_GOODNAME(NAME)) {
    SC_ERROR("-newadmin: the name must be 1 to 32 letters, digits, '.', '_' or '-', and not "
             "\"console\"");
    return 2;
  }
  if (ADM_ROLEOF(ROLE) == 0) {
    SC_ERROR("-newadmin: no role \"" + ROLE + "\" (moderator or admin)");
    return 2;
  }
  // 192 bits from the system's generator, as hex: safe in a URL, a header
  // and a shell. The prefix lets secret scanners know it.
  uint8_t B[24];
  std::array<uint8_t, 32> D;
  if (!ADM_RANDOMBYTES(B, sizeof B)) {
    SC_ERROR("-newadmin: the system's random generator failed");
    return 1;
  }
  std::string TOKEN = "brastok_" + ADM_HEX(B, sizeof B);
  if (!ADM_SHA256(TOKEN, D)) {
    SC_ERROR("-newadmin: SHA-256 failed");
    return 1;
  }
  SC_WRITELN("Token of " + NAME + " (shown only this once; the server keeps only its hash):");
  SC_WRITELN(TOKEN);
  SC_WRITELN("Line for the -admins file:");
  SC_WRITELN(NAME + " " + ROLE + " sha256:" + ADM_HEX(D.data(), D.size()));
  return 0;
}
