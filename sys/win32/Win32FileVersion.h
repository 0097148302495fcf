// Version resources of files through the version library.
#pragma once

#include "sys/FileVersion.h"

namespace kestrune::sys::win32 {

class Win32FileVersion : public IFileVersion {
 public:
  bool QueryFixedFileVersion(const std::string& path, Dword* versionMs, Dword* versionLs) override;
};

}  // namespace kestrune::sys::win32
