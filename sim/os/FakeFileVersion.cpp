#include "sim/os/FakeFileVersion.h"

namespace kestrune::sim {

bool FakeFileVersion::QueryFixedFileVersion(const std::string& path, sys::Dword* versionMs, sys::Dword* versionLs) {
  auto it = Files.find(path);
  if (it == Files.end()) {
    return false;
  }
  *versionMs = it->second.Ms;
  *versionLs = it->second.Ls;
  return true;
}

}  // namespace kestrune::sim
