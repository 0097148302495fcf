#include "hw/ConsoleTrace.h"

#include "common/Debugconsole.h"

namespace kestrune {

void ConsoleTrace::WriteLine(const std::string& text) {
  if (Console != nullptr) {
    Console->WriteLine(text);
  }
}

void ConsoleTrace::WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) {
  if (Console != nullptr) {
    Console->WriteStatus(name, status, colour);
  }
}

}  // namespace kestrune
