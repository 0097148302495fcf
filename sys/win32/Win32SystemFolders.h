// The system and Windows folders.
#pragma once

#include "sys/SystemFolders.h"

namespace kestrune::sys::win32 {

class Win32SystemFolders : public ISystemFolders {
 public:
  std::string GetSystemDirectoryA() override;
  std::string GetWindowsDirectoryA() override;
};

}  // namespace kestrune::sys::win32
