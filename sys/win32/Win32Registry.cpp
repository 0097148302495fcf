#include "sys/win32/Win32Registry.h"

#include <windows.h>

#include <vector>

namespace kestrune::sys::win32 {

namespace {

HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }
RegKey FromHkey(HKEY key) { return reinterpret_cast<RegKey>(key); }
LPCWSTR Wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

// The name at index through RegEnumKeyExA or RegEnumValueA, which take the
// same first four arguments; the others are not asked for.
template <class Enumerate>
Long EnumerateName(Enumerate enumerate, RegKey key, Dword index, std::string* name, Dword nameCapacity) {
  std::vector<char> buffer(nameCapacity + 1, '\0');
  DWORD length = nameCapacity;
  const LONG status = enumerate(ToHkey(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) {
    name->assign(buffer.data(), length);
  }
  return status;
}

}  // namespace

Long Win32Registry::RegCreateKeyExW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) {
  HKEY key = nullptr;
  const LONG status = ::RegCreateKeyExW(ToHkey(root), Wide(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                        nullptr, &key, nullptr);
  *result = status == ERROR_SUCCESS ? FromHkey(key) : 0;
  return status;
}

Long Win32Registry::RegOpenKeyExW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) {
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExW(ToHkey(root), Wide(subKey), 0, access, &key);
  *result = status == ERROR_SUCCESS ? FromHkey(key) : 0;
  return status;
}

Long Win32Registry::RegQueryValueExW(RegKey key, const std::u16string& name, Dword* type, std::uint8_t* data,
                                     Dword* size) {
  DWORD valueType = 0;
  DWORD valueSize = *size;
  const LONG status = ::RegQueryValueExW(ToHkey(key), Wide(name), nullptr, &valueType, data, &valueSize);
  if (type != nullptr) {
    *type = valueType;
  }
  *size = valueSize;
  return status;
}

Long Win32Registry::RegSetValueExW(RegKey key, const std::u16string& name, Dword type, const std::uint8_t* data,
                                   Dword size) {
  return ::RegSetValueExW(ToHkey(key), Wide(name), 0, type, data, size);
}

Long Win32Registry::RegDeleteValueW(RegKey key, const std::u16string& name) {
  return ::RegDeleteValueW(ToHkey(key), Wide(name));
}

Long Win32Registry::RegDeleteKeyW(RegKey root, const std::u16string& subKey) {
  return ::RegDeleteKeyW(ToHkey(root), Wide(subKey));
}

Long Win32Registry::RegOpenKeyExA(RegKey root, const std::string& subKey, Dword access, RegKey* result) {
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExA(ToHkey(root), subKey.c_str(), 0, access, &key);
  *result = status == ERROR_SUCCESS ? FromHkey(key) : 0;
  return status;
}

Long Win32Registry::RegQueryValueExA(RegKey key, const std::string& name, Dword* type, std::uint8_t* data,
                                     Dword* size) {
  DWORD valueType = 0;
  DWORD valueSize = *size;
  const LONG status = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, data, &valueSize);
  if (type != nullptr) {
    *type = valueType;
  }
  *size = valueSize;
  return status;
}

Long Win32Registry::RegEnumKeyExA(RegKey key, Dword index, std::string* name, Dword nameCapacity) {
  return EnumerateName(::RegEnumKeyExA, key, index, name, nameCapacity);
}

Long Win32Registry::RegEnumValueA(RegKey key, Dword index, std::string* name, Dword nameCapacity) {
  return EnumerateName(::RegEnumValueA, key, index, name, nameCapacity);
}

Long Win32Registry::RegCloseKey(RegKey key) { return ::RegCloseKey(ToHkey(key)); }

}  // namespace kestrune::sys::win32
