// What the catalogue reads of the running system's TOsVersionVer: its
// version tag, its WOW64 flag and its platform code.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

struct OsVersionTags {
  std::string VersionTag = "Unknown";
  bool Wow64 = false;
  std::int32_t PlatformCode = 0;
};

class IOsVersionTags {
 public:
  virtual ~IOsVersionTags() = default;
  // Describes the running system afresh.
  virtual OsVersionTags Read() = 0;
};

}  // namespace kestrune
