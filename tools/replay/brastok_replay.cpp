// brastok_replay: runs a server recorded with -record again, over the
// in-memory transport and without sleeping, and prints the console lines the
// recorded server printed; with --packets also the datagrams it sent.
#include <CLI/CLI.hpp>
#include <string>

#include "replay.hpp"

int main(int argc, char** argv) {
  CLI::App APP{"Runs a server recorded with brastok_server -record FILE again and prints\n"
               "the console lines it printed.",
               "brastok_replay"};
  std::string PATH;
  bool PACKETS = false;
  APP.add_option("FILE", PATH, "the recording")->required();
  APP.add_flag("--packets", PACKETS,
               "also print, after each cycle that sent any, the line \"cycle N\" and one "
               "line \"-> IP:PORT HEX\" per datagram sent");
  CLI11_PARSE(APP, argc, argv);
  return RP_REPLAYFILE(PATH, PACKETS);
}
