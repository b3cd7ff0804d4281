// The record's state and its start values: no file open, nothing gathered.
#include "record/record.hpp"

std::string REC_LOGPATH;
std::FILE* REC_LOGF = nullptr;
bool REC_LOGFAILED = false;
bool REC_LOGBROKEN = false;

std::string REC_RECORDPATH;
std::FILE* REC_RECF = nullptr;
std::string REC_RECBUF;
int64_t REC_RECNOW = 0;
int64_t REC_RECUTC = 0;
uint64_t REC_RECSIZE = 0;
uint64_t REC_RECLIMIT = 0;

bool REC_REPLAYING = false;
std::deque<TRECFILE> REC_REPLAYFILES;

void REC_RESET() {
  REC_LOGCLOSE();
  REC_LOGFAILED = false;
  REC_LOGBROKEN = false;
  REC_RECORDCLOSE();
  REC_RECNOW = 0;
  REC_RECUTC = 0;
  REC_RECSIZE = 0;
  REC_RECLIMIT = 0;
  REC_REPLAYING = false;
  REC_REPLAYFILES.clear();
}
