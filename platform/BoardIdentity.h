// The board identity, filled once per process by the install run from a
// TVel and read by the catalogue request and the BIOS version rule.
#pragma once

#include <string>

namespace kestrune {

extern std::string BoardModelName;
extern std::string BoardBiosVersion;

}  // namespace kestrune
