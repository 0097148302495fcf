// The user's locale.
#pragma once

#include "sys/Locale.h"

namespace kestrune::sys::win32 {

class Win32Locale : public ILocale {
 public:
  LangId GetUserDefaultLangID() override;
};

}  // namespace kestrune::sys::win32
