// The user's locale.
#pragma once

#include <windows.h>

#include "sys/Locale.h"

namespace kestrune::sys::win32 {

class Win32Locale : public ILocale {
 public:
  LangId GetUserDefaultLangID() override { return ::GetUserDefaultLangID(); }
};

}  // namespace kestrune::sys::win32
