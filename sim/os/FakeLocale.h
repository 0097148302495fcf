// The user's locale: a language identifier that tests set.
#pragma once

#include "sys/Locale.h"

namespace kestrune::sim {

class FakeLocale : public sys::ILocale {
 public:
  sys::LangId GetUserDefaultLangID() override { return UserLanguage; }
  sys::LangId UserLanguage = 0x0409;
};

}  // namespace kestrune::sim
