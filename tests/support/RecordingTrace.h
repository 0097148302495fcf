// A trace sink that keeps every line, for tests of what the firmware
// readers report on their way.
#pragma once

#include <string>
#include <vector>

#include "hw/Trace.h"

namespace kestrune::test {

class RecordingTrace : public ITraceSink {
 public:
  void WriteLine(const std::string& text) override { Lines.push_back(text); }
  void WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) override {
    Lines.push_back(name + " ... [" + status + "]/" + std::to_string(colour));
  }
  std::vector<std::string> Lines;
};

}  // namespace kestrune::test
