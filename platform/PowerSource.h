// The power source the system runs on, for the install run's question
// before a BIOS flash.
#pragma once

#include <cstdint>

namespace kestrune {

// GetSystemPowerStatus's AC line status: 0 offline (on battery), 1 online,
// 255 unknown; 255 also when the system cannot tell.
std::uint8_t ReadAcLineStatus();

}  // namespace kestrune
