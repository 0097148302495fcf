// A shared record of what the fakes of the operating-system seam saw, in
// the order it happened, so tests can check the order of effects across
// seams (console lines, message boxes, registry writes, child programs).
#pragma once

#include <string>
#include <vector>

namespace kestrune::sim {

class EventLog {
 public:
  void Add(std::string event) { Events.push_back(std::move(event)); }
  const std::vector<std::string>& All() const { return Events; }
  void Clear() { Events.clear(); }

 private:
  std::vector<std::string> Events;
};

// UTF-16 text as 8-bit text for a record: ASCII as it is, the rest "?".
inline std::string RecordText(const std::u16string& text) {
  std::string narrow;
  for (const char16_t c : text) {
    narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return narrow;
}

}  // namespace kestrune::sim
