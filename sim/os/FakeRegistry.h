// An in-memory registry with the system's rules: case-insensitive key and
// value names, HKEY_LOCAL_MACHINE's separate 32-bit and 64-bit views, the
// same error codes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/Registry.h"

namespace kestrune::sim {

class FakeRegistry : public sys::IRegistry {
 public:
  enum class View { Native64, Wow32 };
  struct Value {
    sys::Dword Type = 0;
    std::vector<std::uint8_t> Data;
  };

  explicit FakeRegistry(EventLog* log = nullptr) : Log(log) {}

  // Direct access for tests. Paths are "HKCU\\..." or "HKLM\\...".
  bool KeyExists(const std::string& path, View view = View::Native64) const;
  std::optional<Value> GetValue(const std::string& path, const std::string& name, View view = View::Native64) const;
  std::optional<std::uint32_t> GetDword(const std::string& path, const std::string& name) const;
  std::optional<std::string> GetString(const std::string& path, const std::string& name,
                                       View view = View::Native64) const;
  void SetDword(const std::string& path, const std::string& name, std::uint32_t value);
  void SetString(const std::string& path, const std::string& name, const std::string& text, View view = View::Native64);
  void DeleteKey(const std::string& path, View view = View::Native64);
  // Opens and creates fail with this code while it is not 0.
  sys::Long FailOpen = 0;
  std::size_t OpenKeys() const { return Handles.size(); }

  sys::Long RegCreateKeyExW(sys::RegKey root, const std::u16string& subKey, sys::Dword access,
                            sys::RegKey* result) override;
  sys::Long RegOpenKeyExW(sys::RegKey root, const std::u16string& subKey, sys::Dword access,
                          sys::RegKey* result) override;
  sys::Long RegQueryValueExW(sys::RegKey key, const std::u16string& name, sys::Dword* type, std::uint8_t* data,
                             sys::Dword* size) override;
  sys::Long RegSetValueExW(sys::RegKey key, const std::u16string& name, sys::Dword type, const std::uint8_t* data,
                           sys::Dword size) override;
  sys::Long RegDeleteValueW(sys::RegKey key, const std::u16string& name) override;
  sys::Long RegDeleteKeyW(sys::RegKey root, const std::u16string& subKey) override;
  sys::Long RegOpenKeyExA(sys::RegKey root, const std::string& subKey, sys::Dword access, sys::RegKey* result) override;
  sys::Long RegQueryValueExA(sys::RegKey key, const std::string& name, sys::Dword* type, std::uint8_t* data,
                             sys::Dword* size) override;
  sys::Long RegEnumKeyExA(sys::RegKey key, sys::Dword index, std::string* name, sys::Dword nameCapacity) override;
  sys::Long RegEnumValueA(sys::RegKey key, sys::Dword index, std::string* name, sys::Dword nameCapacity) override;
  sys::Long RegCloseKey(sys::RegKey key) override;

 private:
  struct Key {
    std::string Path;                                             // as first created, for enumeration
    std::map<std::string, std::pair<std::string, Value>> Values;  // upper-cased name -> (name, value)
  };
  sys::Long Open(sys::RegKey root, const std::string& subKey, sys::Dword access, bool create, sys::RegKey* result);
  Key* Find(sys::RegKey handle);
  static sys::Long CopyOut(const Value& value, sys::Dword* type, std::uint8_t* data, sys::Dword* size);
  std::string KeyId(const std::string& fullPath, View view) const;
  static std::string Upper(std::string text);

  EventLog* Log;
  std::map<std::string, Key> Keys;             // id -> key
  std::map<sys::RegKey, std::string> Handles;  // open handle -> id
  sys::RegKey NextHandle = 0x1000;
};

}  // namespace kestrune::sim
