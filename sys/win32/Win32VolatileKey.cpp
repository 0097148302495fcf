#include "sys/win32/Win32VolatileKey.h"

#include <windows.h>

namespace kestrune::sys::win32 {

Long RegCreateVolatileKeyW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) {
  HKEY key = nullptr;
  const LONG status = ::RegCreateKeyExW(reinterpret_cast<HKEY>(root), reinterpret_cast<LPCWSTR>(subKey.c_str()), 0,
                                        nullptr, REG_OPTION_VOLATILE, access, nullptr, &key, nullptr);
  *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(key) : 0;
  return status;
}

}  // namespace kestrune::sys::win32
