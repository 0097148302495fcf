// The machine the probe reads: a simulated board from a board file, over
// the fakes of a Windows 10 x64 (Linux) or over the real system (Windows);
// or, on Windows without a board file, the real machine.
#pragma once

#include <memory>
#include <string>

namespace kestrune::tools {

class ProbeHost {
 public:
  virtual ~ProbeHost() = default;
  // nullptr with the reason in error.
  static std::unique_ptr<ProbeHost> Start(const std::string& boardFile, std::string& error);
};

}  // namespace kestrune::tools
