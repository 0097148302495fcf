#include "hw/OsPlatform.h"

#include "common/Osversion.h"

namespace kestrune {

OsPlatform ProcessOsPlatform() {
  const TOsVersion& os = OsVersionInstance();
  return {os.GetFlags(0xFFFF), os.Is32BitWindows(), os.IsItanium(), os.Is64Bit()};
}

std::uint32_t FreshOsFlags() {
  const TOsVersion own;
  return own.GetFlags(0xFFFF);
}

}  // namespace kestrune
