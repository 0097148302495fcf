#include "sim/os/FakeConsole.h"

namespace kestrune::sim {

void FakeConsole::Write(std::string_view text) {
  Output.append(text);
  if (Log != nullptr) {
    Log->Add("print " + std::string(text));
  }
}

}  // namespace kestrune::sim
