// The C runtime's environment.
#pragma once

#include <optional>
#include <string>

namespace kestrune::sys {

class IEnvironmentVariables {
 public:
  virtual ~IEnvironmentVariables() = default;
  // getenv: the variable's value; none when it is not set.
  virtual std::optional<std::string> GetEnv(const std::string& name) = 0;
};

}  // namespace kestrune::sys
