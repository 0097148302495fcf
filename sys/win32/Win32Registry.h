#pragma once

#include "sys/Registry.h"

namespace kestrune::sys::win32 {

class Win32Registry : public IRegistry {
 public:
  Long RegCreateKeyExW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) override;
  Long RegOpenKeyExW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) override;
  Long RegQueryValueExW(RegKey key, const std::u16string& name, Dword* type, std::uint8_t* data, Dword* size) override;
  Long RegSetValueExW(RegKey key, const std::u16string& name, Dword type, const std::uint8_t* data,
                      Dword size) override;
  Long RegDeleteValueW(RegKey key, const std::u16string& name) override;
  Long RegDeleteKeyW(RegKey root, const std::u16string& subKey) override;
  Long RegOpenKeyExA(RegKey root, const std::string& subKey, Dword access, RegKey* result) override;
  Long RegQueryValueExA(RegKey key, const std::string& name, Dword* type, std::uint8_t* data, Dword* size) override;
  Long RegEnumKeyExA(RegKey key, Dword index, std::string* name, Dword nameCapacity) override;
  Long RegEnumValueA(RegKey key, Dword index, std::string* name, Dword nameCapacity) override;
  Long RegCloseKey(RegKey key) override;
};

}  // namespace kestrune::sys::win32
