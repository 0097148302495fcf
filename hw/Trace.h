// Where the firmware readers write their trace lines. The hardware objects
// pass their debug console; tests may record the lines; a null sink drops
// them.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

class ITraceSink {
 public:
  virtual ~ITraceSink() = default;
  virtual void WriteLine(const std::string& text) = 0;
  // name " ... [" status "]", the status in the given console colour.
  virtual void WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) = 0;
};

class NullTrace : public ITraceSink {
 public:
  void WriteLine(const std::string&) override {}
  void WriteStatus(const std::string&, const std::string&, std::uint16_t) override {}
};

// Console colours of the trace entries.
inline constexpr std::uint16_t kColourBlue = 9;
inline constexpr std::uint16_t kColourGreen = 10;
inline constexpr std::uint16_t kColourRed = 12;
inline constexpr std::uint16_t kColourYellow = 14;

}  // namespace kestrune
