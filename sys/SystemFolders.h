// The system's own folders: GetSystemDirectoryA and GetWindowsDirectoryA.
#pragma once

#include <string>

namespace kestrune::sys {

class ISystemFolders {
 public:
  virtual ~ISystemFolders() = default;
  // Empty on failure.
  virtual std::string GetSystemDirectoryA() = 0;
  virtual std::string GetWindowsDirectoryA() = 0;
};

}  // namespace kestrune::sys
