// The firmware readers' trace sink over the debug console: what the
// hardware objects hand the readers. Without a console the lines go nowhere.
#pragma once

#include "hw/Trace.h"

namespace kestrune {

class TDebugConsole;

class ConsoleTrace : public ITraceSink {
 public:
  explicit ConsoleTrace(TDebugConsole* console) : Console(console) {}
  void WriteLine(const std::string& text) override;
  void WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) override;

 private:
  TDebugConsole* Console;
};

}  // namespace kestrune
