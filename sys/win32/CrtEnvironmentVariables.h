// Environment variables through the C library's getenv.
#pragma once

#include <cstdlib>

#include "sys/EnvironmentVariables.h"

namespace kestrune::sys::win32 {

class CrtEnvironmentVariables : public IEnvironmentVariables {
 public:
  std::optional<std::string> GetEnv(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
  }
};

}  // namespace kestrune::sys::win32
