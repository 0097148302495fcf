// The running Windows in the live-update catalogue's vocabulary: a version
// tag such as "WNT_10.0A", a platform code that folds the generation with
// the word size, and a product name. Worked out once, in the constructor.
#pragma once

#include <cstdint>
#include <string>

#include "sys/SystemVersion.h"

namespace kestrune {

class TOsVersionVer {
 public:
  TOsVersionVer();
  ~TOsVersionVer() = default;
  TOsVersionVer(const TOsVersionVer&) = delete;
  TOsVersionVer& operator=(const TOsVersionVer&) = delete;

  sys::OsVersionInfoEx VersionInfo;
  sys::SystemInfo SystemInfo;  // the native system's
  // 0 not NT or unknown; 1 to 3 NT 5.x; 4 to 6 NT 6.x, 10.x and later. The
  // lowest of each group is 32-bit Windows, +1 WOW64 on Itanium, +2 WOW64
  // on any other processor.
  std::int32_t PlatformCode = 0;
  std::string VersionTag;
  bool Wow64 = false;  // the program runs on 64-bit Windows
  bool MediaCenter = false;
  std::string ProductName;
  std::int32_t ServicePack = 0;

 private:
  void Probe();
  void NameNtRelease();
  void NameOtherPlatform();
};

}  // namespace kestrune
