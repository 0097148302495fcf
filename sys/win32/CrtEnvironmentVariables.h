// Environment variables through the C library's getenv.
#pragma once

#include "sys/EnvironmentVariables.h"

namespace kestrune::sys::win32 {

// The C runtime's getenv.
class CrtEnvironmentVariables : public IEnvironmentVariables {
 public:
  std::optional<std::string> GetEnv(const std::string& name) override;
};

}  // namespace kestrune::sys::win32
