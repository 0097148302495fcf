// The system's folders of a default 64-bit Windows installation.
#pragma once

#include <string>

#include "sys/SystemFolders.h"

namespace kestrune::sim {

class FakeSystemFolders : public sys::ISystemFolders {
 public:
  std::string GetSystemDirectoryA() override { return SystemDirectory; }
  std::string GetWindowsDirectoryA() override { return WindowsDirectory; }
  std::string GetProgramFilesDirectoryA() override { return ProgramFilesDirectory; }
  std::string SystemDirectory = "C:\\Windows\\system32";
  std::string WindowsDirectory = "C:\\Windows";
  // As a 32-bit process sees it.
  std::string ProgramFilesDirectory = "C:\\Program Files (x86)";
};

}  // namespace kestrune::sim
