// brastok_client: a headless client to check, watch and load-test a server.
// This file only hands the command line to its command.
#include <cstdio>
#include <string>
#include <vector>

#include "client.hpp"
#include "server/state.hpp"
#include "socket.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> ARGS(argv + 1, argv + argc);
  CL_OPTIONS O;
  std::string ERR;
  if (!CL_PARSEARGS(ARGS, O, ERR)) {
    std::fprintf(stderr, "brastok_client: %s\n", ERR.c_str());
    return CL_EXIT_USAGE;
  }
  if (O.HELP) {
    std::fputs(O.HELPTEXT.c_str(), stdout);
    return CL_EXIT_OK;
  }
  if (O.VERSION) {
    std::printf("brastok_client, protocol version %d\n", int(PVER));
    return CL_EXIT_OK;
  }
  CL_CATCHSTOP();
  if (O.COMMAND == "status") {
    return CL_STATUSCMD(O);
  }
  if (O.COMMAND == "watch") {
    return CL_WATCHCMD(O);
  }
  if (O.COMMAND == "map") {
    return CL_MAPCMD(O);
  }
  if (O.COMMAND == "relay") {
    return CL_RELAYCMD(O);
  }
  return CL_LOADCMD(O);
}
