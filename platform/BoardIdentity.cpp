#include "platform/BoardIdentity.h"

namespace kestrune {

std::string BoardModelName;
std::string BoardBiosVersion;

}  // namespace kestrune
