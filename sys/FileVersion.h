// A file's version resource.
#pragma once

#include <string>

#include "sys/WinTypes.h"

namespace kestrune::sys {

class IFileVersion {
 public:
  virtual ~IFileVersion() = default;
  // GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA of "\\":
  // the fixed information's dwFileVersionMS and dwFileVersionLS. False when
  // the file has no version resource or a call fails.
  virtual bool QueryFixedFileVersion(const std::string& path, Dword* versionMs, Dword* versionLs) = 0;
};

}  // namespace kestrune::sys
