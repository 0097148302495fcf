#include "sys/win32/Win32Locale.h"

#include <windows.h>

namespace kestrune::sys::win32 {

LangId Win32Locale::GetUserDefaultLangID() { return ::GetUserDefaultLangID(); }

}  // namespace kestrune::sys::win32
