// The files of the edge that the command line names. They are opened as soon
// as the whole-line options are read, before the rest of the start-up reads
// anything, so the first server lines, the first map load and every file read
// are in them, and a file that cannot be opened stops the start.
#include <cerrno>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "hooks.hpp"
#include "record/record.hpp"
#include "server/server.hpp"

bool REC_OPENFILES(const std::vector<std::string>& ARGS) {
  // A replay runs the recorded start-up again but writes no files.
  if (REC_REPLAYING) {
    return true;
  }
  std::string ERR;
  if (!OPT_LOG.empty() && !REC_LOGOPEN(OPT_LOG, ERR)) {
    SC_ERROR(ERR);
    return false;
  }
  if (!OPT_RECORD.empty() && !REC_RECORDOPEN(OPT_RECORD, ARGS, ERR)) {
    SC_ERROR(ERR);
    REC_LOGCLOSE();
    return false;
  }
  return true;
}

std::FILE* REC_OPENFILE(const std::string& PATH, const char* MODE, bool PRIVATE) {
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

bool REC_WRITEFILE(std::FILE* F, std::string_view TEXT) {
  bool OK = std::fwrite(TEXT.data(), 1, TEXT.size(), F) == TEXT.size();
  OK = std::fflush(F) == 0 && OK;
  std::clearerr(F);
  return OK;
}
