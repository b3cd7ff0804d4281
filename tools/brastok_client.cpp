// brastok_client: a headless client to check, watch and load-test a server.
#include <cstdio>
#include <string>
#include <vector>

#include "clientrun.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> ARGS(argv + 1, argv + argc);
  CL_OPTIONS O;
  std::string ERR;
  if (!CL_PARSEARGS(ARGS, O, ERR)) {
    std::fprintf(stderr, "brastok_client: %s\n", ERR.c_str());
    return CL_EXIT_USAGE;
  }
  if (O.HELP) {
    std::fputs(CL_USAGE().c_str(), stdout);
    return CL_EXIT_OK;
  }
  if (O.VERSION) {
    std::printf("brastok_client, protocol version %d\n", int(PVER));
    return CL_EXIT_OK;
  }
  return CL_RUN(O);
}
