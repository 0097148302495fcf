// The Windows registry, as the functions of the same names offer it.
// Every call answers a system error code (kErrorSuccess on success).
#pragma once

#include <string>
#include <vector>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // Opens subKey under root, creating every missing key on the way.
  virtual Long RegCreateKeyExW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) = 0;
  virtual Long RegOpenKeyExW(RegKey root, const std::u16string& subKey, Dword access, RegKey* result) = 0;
  // Reads at most *size bytes into data (data may be null to ask for the
  // size). Answers kErrorMoreData when the value does not fit, with *size
  // set to the size it needs.
  virtual Long RegQueryValueExW(RegKey key, const std::u16string& name, Dword* type, std::uint8_t* data,
                                Dword* size) = 0;
  virtual Long RegSetValueExW(RegKey key, const std::u16string& name, Dword type, const std::uint8_t* data,
                              Dword size) = 0;
  virtual Long RegDeleteValueW(RegKey key, const std::u16string& name) = 0;
  // Deletes a key that has no subkeys.
  virtual Long RegDeleteKeyW(RegKey root, const std::u16string& subKey) = 0;

  // The narrow forms, on 8-bit text in the system code page.
  virtual Long RegOpenKeyExA(RegKey root, const std::string& subKey, Dword access, RegKey* result) = 0;
  virtual Long RegQueryValueExA(RegKey key, const std::string& name, Dword* type, std::uint8_t* data, Dword* size) = 0;
  // The name of subkey `index`, at most nameCapacity characters.
  virtual Long RegEnumKeyExA(RegKey key, Dword index, std::string* name, Dword nameCapacity) = 0;
  // The name of value `index`, at most nameCapacity characters.
  virtual Long RegEnumValueA(RegKey key, Dword index, std::string* name, Dword nameCapacity) = 0;

  virtual Long RegCloseKey(RegKey key) = 0;
};

inline void CloseRegKey(RegKey key) { Use<IRegistry>().RegCloseKey(key); }

// An open key, closed when the object goes.
using RegKeyHandle = UniqueAny<RegKey, RegKey{0}, CloseRegKey>;

}  // namespace kestrune::sys
