// The user's locale settings.
#pragma once

#include <cstdint>

namespace kestrune::sys {

using LangId = std::uint16_t;

class ILocale {
 public:
  virtual ~ILocale() = default;
  virtual LangId GetUserDefaultLangID() = 0;
};

}  // namespace kestrune::sys
