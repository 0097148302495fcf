// RegCreateKeyExW with REG_OPTION_VOLATILE: the only way to make a key below
// a volatile one such as HKEY_LOCAL_MACHINE\Hardware, where Windows keeps
// its copy of the ACPI tables. The program never writes there; its Wine
// tests make that copy themselves.
#pragma once

#include <string>

#include "sys/WinTypes.h"

namespace kestrune::sys::win32 {

// Creates (or opens) subKey under root, and every missing key on the way,
// as volatile keys. kErrorSuccess or the system's error code.
Long RegCreateVolatileKeyW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result);

}  // namespace kestrune::sys::win32
