// The files of the edge that the command line names. They are opened as soon
// as the whole-line options are read, before the rest of the start-up reads
// anything, so the first server lines, the first map load and every file read
// are in them, and a file that cannot be opened stops the start.
#include <cerrno>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

std::FILE* REC_OPENFILE(const std::string& PATH, const char* MODE, bool NEW) {
  std::FILE* F = nullptr;
#ifdef _WIN32
  if (NEW) {
    int FD = _open(PATH.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    F = FD < 0 ? nullptr : _fdopen(FD, MODE);
  } else {
    F = std::fopen(PATH.c_str(), MODE);
  }
#else
  // Not inherited by anything the server might start.
  if (NEW) {
    int FD = open(PATH.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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

// Cuts the last N bytes off the file F: a short write's piece.
static bool REC_CUTBACK(std::FILE* F, size_t N) {
#ifdef _WIN32
  int FD = _fileno(F);
  long long SIZE = _filelengthi64(FD);
  return SIZE >= (long long)N && _chsize_s(FD, SIZE - (long long)N) == 0;
#else
  int FD = fileno(F);
  struct stat ST;
  return fstat(FD, &ST) == 0 && ST.st_size >= off_t(N) && ftruncate(FD, ST.st_size - off_t(N)) == 0;
#endif
}

bool REC_WRITEFILE(std::FILE* F, std::string_view TEXT, bool* BROKEN) {
  size_t DONE = std::fwrite(TEXT.data(), 1, TEXT.size(), F);
  bool OK = DONE == TEXT.size();
  OK = std::fflush(F) == 0 && OK;
  int WHY = errno;
  // A full disk (or a size limit) can take part of a write: the piece is
  // cut off again, so the file holds whole records only. Where it cannot be
  // cut, the caller learns that a broken piece stays.
  if (!OK && DONE > 0 && DONE < TEXT.size() && !REC_CUTBACK(F, DONE) && BROKEN != nullptr) {
    *BROKEN = true;
  }
  std::clearerr(F);
  errno = WHY;
  return OK;
}
