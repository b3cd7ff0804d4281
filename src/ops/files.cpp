// The files of the edge that the command line names. They are opened before
// start-up reads anything, so the first server lines, the first map load and
// every file read are in them, and a file that cannot be opened stops the
// start.
#include "ops/ops.hpp"
#include "server/server.hpp"

bool OPS_START(const std::vector<std::string>& ARGS) {
  // Keys and values pair by position, as the server reads its command line;
  // a later pair wins.
  std::string LOG;
  std::string RECORD;
  for (size_t P = 1; P < ARGS.size(); P += 2) {
    if (ARGS[P - 1] == "-log") {
      LOG = ARGS[P];
    } else if (ARGS[P - 1] == "-record") {
      RECORD = ARGS[P];
    }
  }
  std::string ERR;
  if (!LOG.empty() && !OPS_LOGOPEN(LOG, ERR)) {
    SC_ERROR(ERR);
    return false;
  }
  if (!RECORD.empty() && !OPS_RECORDOPEN(RECORD, ARGS, ERR)) {
    SC_ERROR(ERR);
    OPS_LOGCLOSE();
    return false;
  }
  return true;
}
