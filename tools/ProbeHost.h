// The machine the probe reads: a simulated board from a board file, over
// the fakes of a Windows 10 x64 (Linux) or over the real system (Windows);
// or, on Windows without a board file, the real machine.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sim/board/Board.h"
#include "tools/CaptureSupport.h"

namespace kestrune::tools {

class ProbeHost {
 public:
  virtual ~ProbeHost() = default;
  // nullptr with the reason in error.
  static std::unique_ptr<ProbeHost> Start(const std::string& boardFile, std::string& error);
  // The live machine's capture where it needs no started host: on Linux,
  // from the kernel's interfaces. On Windows none: the capture reads the
  // machine through the hardware objects on a started host.
  static std::optional<sim::Board> CaptureLiveMachine(const CaptureOptions& options);
};

}  // namespace kestrune::tools
