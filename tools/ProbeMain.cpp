// kestrune-probe [BOARD.json]: prints what the program's hardware objects
// read, one key=value line each. With a board file it reads the simulated
// board; without one, on Windows, the real machine.
//
// kestrune-probe --capture FILE [--blank-serials] [BOARD.json]: writes a
// board file of the machine instead: on Windows through the program's
// hardware objects and the driver, on Linux from the kernel's interfaces;
// with a board file, of that simulated board through the hardware objects.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim/board/Board.h"
#include "tools/CaptureSupport.h"
#include "tools/MachineCapture.h"
#include "tools/Probe.h"
#include "tools/ProbeHost.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kestrune-probe [BOARD.json]\n"
               "       kestrune-probe --capture FILE [--blank-serials] [BOARD.json]\n");
  return 2;
}

int WriteCapture(const kestrune::sim::Board& board, const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  const std::string text = kestrune::sim::WriteBoardJson(board);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "kestrune-probe: cannot write \"%s\"\n", file.c_str());
    return 1;
  }
  for (const std::string& line : board.Capture->Missing) {
    std::fprintf(stderr, "kestrune-probe: left out: %s\n", line.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrune;
  std::string board;
  std::string capture;
  bool capturing = false;
  tools::CaptureOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      return Usage();
    }
    if (arg == "--capture" && i + 1 < argc && !capturing) {
      capturing = true;
      capture = argv[++i];
    } else if (arg == "--blank-serials") {
      options.BlankSerials = true;
    } else if (!arg.empty() && arg[0] != '-' && board.empty()) {
      board = arg;
    } else {
      return Usage();
    }
  }
  if (options.BlankSerials && !capturing) {
    return Usage();
  }
  if (capturing && board.empty()) {
    if (const auto live = tools::ProbeHost::CaptureLiveMachine(options)) {
      return WriteCapture(*live, capture);
    }
  }
  std::string error;
  auto host = tools::ProbeHost::Start(board, error);
  if (!host) {
    std::fprintf(stderr, "kestrune-probe: %s\n", error.c_str());
    return 1;
  }
  if (capturing) {
    const char* computer = std::getenv("COMPUTERNAME");
    const std::string name = !board.empty() ? "the simulated board of " + board : computer != nullptr ? computer : "";
    return WriteCapture(tools::CaptureThroughHardware(options, name), capture);
  }
  const std::string lines = tools::ProbeMachine();
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  return 0;
}
