// The C runtime's environment in memory.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "sys/EnvironmentVariables.h"

namespace kestrune::sim {

class FakeEnvironmentVariables : public sys::IEnvironmentVariables {
 public:
  std::optional<std::string> GetEnv(const std::string& name) override {
    const auto it = Variables.find(name);
    return it == Variables.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  std::map<std::string, std::string> Variables = {{"SystemDrive", "C:"}};
};

}  // namespace kestrune::sim
