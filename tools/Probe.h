// What the program's own hardware objects read on this machine, as
// key=value lines in the order the install run reads them. Support
// engineers run kestrune-probe to see what the utility sees.
#pragma once

#include <string>

namespace kestrune::tools {

// Brings the hardware layer up on the installed machine seam and reads it.
std::string ProbeMachine();

}  // namespace kestrune::tools
