// kestrune-probe [BOARD.json]: prints what the program's hardware objects
// read, one key=value line each. With a board file it reads the simulated
// board; without one, on Windows, the real machine.
#include <cstdio>
#include <string>

#include "tools/Probe.h"
#include "tools/ProbeHost.h"

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
    std::fprintf(stderr, "usage: kestrune-probe [BOARD.json]\n");
    return 2;
  }
  const std::string board = argc == 2 ? argv[1] : "";
  std::string error;
  auto host = kestrune::tools::ProbeHost::Start(board, error);
  if (!host) {
    std::fprintf(stderr, "kestrune-probe: %s\n", error.c_str());
    return 1;
  }
  const std::string lines = kestrune::tools::ProbeMachine();
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  return 0;
}
