// The system's folders of a default 64-bit Windows installation.
#pragma once

#include <string>

#include "sys/SystemFolders.h"

namespace kestrune::sim {

class FakeSystemFolders : public sys::ISystemFolders {
 public:
  std::string GetSystemDirectoryA() override { return SystemDirectory; }
  std::string GetWindowsDirectoryA() override { return WindowsDirectory; }
  std::string SystemDirectory = "C:\\Windows\\system32";
  std::string WindowsDirectory = "C:\\Windows";
};

}  // namespace kestrune::sim
