// The process's standard output.
#pragma once

#include <string_view>

namespace kestrune::sys {

class IConsole {
 public:
  virtual ~IConsole() = default;
  virtual void Write(std::string_view text) = 0;
  virtual void Flush() = 0;
};

}  // namespace kestrune::sys
