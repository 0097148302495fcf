// Registry access for the install state and the per-user autostart list.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sys/Registry.h"
#include "sys/WinTypes.h"

namespace kestrune {

// The install state lives under HKEY_CURRENT_USER in this key.
inline constexpr const char* kInstallStateKey = "Software\\Velnor\\Kestrune";
inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Each value operation is self-contained: set the root, open the key
// (creating it when missing), read or write, close. No key stays open
// between operations.
class TAdvReg {
 public:
  TAdvReg() = default;
  virtual ~TAdvReg();
  TAdvReg(const TAdvReg&) = delete;
  TAdvReg& operator=(const TAdvReg&) = delete;

  // A missing key or value, or a value of another type, reads as 0.
  std::int32_t ReadInteger(const std::string& key, const std::string& name);
  // Stored as REG_DWORD; -1 is stored as 4294967295.
  void WriteInteger(const std::string& key, const std::string& name, std::int32_t value);
  // REG_SZ or REG_EXPAND_SZ; anything else, or nothing, reads as "".
  std::string ReadString(const std::string& key, const std::string& name);
  void WriteString(const std::string& key, const std::string& name, const std::string& text);

  // The per-user autostart list. A command holding a blank is quoted.
  // Removing never creates the Run key.
  void SetRunEntry(const std::string& name, const std::string& command, bool add);
  void AddRunEntry(const std::string& name);
  void RemoveRunEntry(const std::string& name);

 private:
  bool OpenKey(const std::string& key, bool create);
  void CloseKey();
  void SetStringValue(const std::string& name, const std::string& text);  // REG_SZ in CurrentKey

  sys::RegKey RootKey = sys::kHkeyCurrentUser;
  sys::Dword Access = sys::kKeyAllAccess;
  sys::RegKeyHandle CurrentKey;
};

// Reads a value under root through the narrow API into a 260-byte buffer
// that the caller zeroed, opening the key with KEY_ALL_ACCESS | access.
// Answers 1 when both the open and the query succeed, else 0. Writes no
// terminating NUL of its own; a value longer than the buffer fails.
int ReadRegistryString(sys::RegKey root, const std::string& subKey, const std::string& name,
                       std::array<std::uint8_t, 260>& buffer, sys::Dword access);

}  // namespace kestrune
