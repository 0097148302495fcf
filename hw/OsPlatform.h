// What the hardware layer needs to know about the running Windows: the
// TOsVersion flags word (mask 0xFFFF) and its architecture tests.
#pragma once

#include <cstdint>

#include "common/Osversion.h"  // the flags word's codes (kOsWindows9x, ...)

namespace kestrune {

struct OsPlatform {
  std::uint32_t Flags = 0;  // generation code in bits 4-15, 0x1 x64, 0x2 Itanium
  bool Is32BitWindows = false;
  bool IsItanium = false;
  bool Is64Bit = false;
};

// The process-wide TOsVersion's answers (OsVersionInstance()).
OsPlatform ProcessOsPlatform();
// GetFlags(0xFFFF) of a TOsVersion of the caller's own.
std::uint32_t FreshOsFlags();

}  // namespace kestrune
