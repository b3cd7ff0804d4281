#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

long NOWMS() {
  using namespace std::chrono;
  return long(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool TPROCESS::WAITLINE(const std::string& TEXT, int MS, std::vector<std::string>* SEEN) {
  long END = NOWMS() + MS;
  std::string L;
  while (READLINE(L, int(std::max(1L, END - NOWMS())))) {
    if (SEEN != nullptr) {
      SEEN->push_back(L);
    }
    if (L == TEXT) {
      return true;
    }
  }
  return false;
}

TPROCESS::TPROCESS(const std::vector<std::string>& ARGV, const std::string& CWD, bool PIPEIN) {
  int OUTP[2], ERRP[2], INP[2] = {-1, -1};
  if (pipe(OUTP) != 0 || pipe(ERRP) != 0 || (PIPEIN && pipe(INP) != 0)) {
    return;
  }
  PID_ = fork();
  if (PID_ == 0) {
    int NUL = PIPEIN ? INP[0] : open("/dev/null", O_RDONLY);
    dup2(NUL, 0);
    if (PIPEIN) {
      close(INP[1]);
    }
    dup2(OUTP[1], 1);
    dup2(ERRP[1], 2);
    close(OUTP[0]);
    close(ERRP[0]);
    if (!CWD.empty() && chdir(CWD.c_str()) != 0) {
      _exit(126);
    }
    std::vector<char*> A;
    for (const std::string& S : ARGV) {
      A.push_back(const_cast<char*>(S.c_str()));
    }
    A.push_back(nullptr);
    execv(A[0], A.data());
    _exit(127);
  }
  close(OUTP[1]);
  close(ERRP[1]);
  if (PIPEIN) {
    close(INP[0]);
    IN_ = INP[1];
  }
  OUT_ = OUTP[0];
  ERR_ = ERRP[0];
  fcntl(ERR_, F_SETFL, fcntl(ERR_, F_GETFL) | O_NONBLOCK);
}

TPROCESS::~TPROCESS() {
  if (RUNNING()) {
    STOP(SIGKILL, 2000);
  }
  if (OUT_ >= 0) {
    close(OUT_);
  }
  if (ERR_ >= 0) {
    close(ERR_);
  }
  if (IN_ >= 0) {
    close(IN_);
  }
}

bool TPROCESS::WRITEIN(const std::string& TEXT) {
  // A child that has ended must fail the write, not kill the test.
  signal(SIGPIPE, SIG_IGN);
  return IN_ >= 0 && write(IN_, TEXT.data(), TEXT.size()) == ssize_t(TEXT.size());
}

bool TPROCESS::READLINE(std::string& LINE, int TIMEOUTMS) {
  long END = NOWMS() + TIMEOUTMS;
  for (;;) {
    size_t NL = OUTBUF_.find('\n');
    if (NL != std::string::npos) {
      LINE = OUTBUF_.substr(0, NL);
      OUTBUF_.erase(0, NL + 1);
      return true;
    }
    long LEFT = END - NOWMS();
    if (LEFT <= 0 || OUT_ < 0) {
      return false;
    }
    pollfd P{OUT_, POLLIN, 0};
    if (poll(&P, 1, int(LEFT)) <= 0) {
      continue;
    }
    char BUF[4096];
    ssize_t N = read(OUT_, BUF, sizeof BUF);
    if (N <= 0) {
      return false;
    }
    OUTBUF_.append(BUF, size_t(N));
  }
}

std::string TPROCESS::ERRTEXT() {
  char BUF[4096];
  ssize_t N;
  while (ERR_ >= 0 && (N = read(ERR_, BUF, sizeof BUF)) > 0) {
    ERRBUF_.append(BUF, size_t(N));
  }
  return ERRBUF_;
}

bool TPROCESS::RUNNING() {
  if (PID_ <= 0 || STATUS_ != -1) {
    return false;
  }
  int ST;
  pid_t R = waitpid(PID_, &ST, WNOHANG);
  if (R == PID_) {
    STATUS_ = WIFEXITED(ST) ? WEXITSTATUS(ST) : 128 + WTERMSIG(ST);
    return false;
  }
  return R == 0;
}

int TPROCESS::WAIT(int TIMEOUTMS) {
  long END = NOWMS() + TIMEOUTMS;
  while (RUNNING() && NOWMS() < END) {
    usleep(5000);
  }
  return RUNNING() ? -1 : STATUS_;
}

int TPROCESS::STOP(int SIG, int TIMEOUTMS) {
  if (RUNNING()) {
    kill(PID_, SIG);
    if (WAIT(TIMEOUTMS) == -1) {
      kill(PID_, SIGKILL);
      WAIT(2000);
    }
  }
  return STATUS_;
}

long TPROCESS::RSSKB() const {
  std::ifstream F("/proc/" + std::to_string(PID_) + "/status");
  std::string L;
  while (std::getline(F, L)) {
    if (L.rfind("VmRSS:", 0) == 0) {
      return std::stol(L.substr(6));
    }
  }
  return -1;
}

int PORTOFLINE(const std::string& LINE) {
  const std::string HEAD = "UDP initialized! UDP port: ";
  if (LINE.rfind(HEAD, 0) != 0) {
    return 0;
  }
  return std::atoi(LINE.c_str() + HEAD.size());
}

TSCRATCH::TSCRATCH() {
  char T[] = "/tmp/brastok-e2e-XXXXXX";
  PATH_ = mkdtemp(T);
  fs::create_directories(fs::path(PATH_) / "maps");
}

TSCRATCH::~TSCRATCH() {
  std::error_code EC;
  fs::remove_all(PATH_, EC);
}

void TSCRATCH::WRITEMAP(const std::string& NAME, const std::string& TEXT) const {
  std::ofstream(fs::path(PATH_) / "maps" / (NAME + ".brsk"), std::ios::binary) << TEXT;
}
