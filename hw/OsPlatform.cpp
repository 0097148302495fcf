#include "hw/OsPlatform.h"

namespace kestrune {

// Until the operating-system version probe is part of the build, the layer
// assumes what a 32-bit program sees on 64-bit Windows 10.
OsPlatform ProcessOsPlatform() { return {0x4C1, false, false, true}; }

std::uint32_t FreshOsFlags() { return ProcessOsPlatform().Flags; }

}  // namespace kestrune
