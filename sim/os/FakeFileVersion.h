// Version resources: a table of files and their versions.
#pragma once

#include <map>
#include <string>

#include "sys/FileVersion.h"

namespace kestrune::sim {

class FakeFileVersion : public sys::IFileVersion {
 public:
  bool QueryFixedFileVersion(const std::string& path, sys::Dword* versionMs, sys::Dword* versionLs) override {
    const auto it = Files.find(path);
    if (it == Files.end()) {
      return false;
    }
    *versionMs = it->second.Ms;
    *versionLs = it->second.Ls;
    return true;
  }
  struct Version {
    sys::Dword Ms;
    sys::Dword Ls;
  };
  std::map<std::string, Version> Files;  // path -> version; others have none
};

}  // namespace kestrune::sim
