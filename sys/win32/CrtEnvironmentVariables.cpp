#include "sys/win32/CrtEnvironmentVariables.h"

#include <cstdlib>

namespace kestrune::sys::win32 {

std::optional<std::string> CrtEnvironmentVariables::GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

}  // namespace kestrune::sys::win32
