// The system's own folders: GetSystemDirectoryA, GetWindowsDirectoryA and
// the program-files folder (SHGetKnownFolderPath with FOLDERID_ProgramFiles).
#pragma once

#include <string>

namespace kestrune::sys {

class ISystemFolders {
 public:
  virtual ~ISystemFolders() = default;
  // Empty on failure.
  virtual std::string GetSystemDirectoryA() = 0;
  virtual std::string GetWindowsDirectoryA() = 0;
  // The program-files folder as this process sees it (a 32-bit process on
  // 64-bit Windows: "C:\\Program Files (x86)"), in the ANSI code page.
  virtual std::string GetProgramFilesDirectoryA() = 0;
};

}  // namespace kestrune::sys
