#include "install/Advreg.h"

#include <cstring>
#include <vector>

#include "common/Utils.h"
#include "sys/CodePage.h"
#include "sys/Registry.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

sys::IRegistry& Registry() { return sys::Use<sys::IRegistry>(); }

std::u16string Wide(const std::string& text) {
  return sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, text).value_or(std::u16string());
}

std::string Narrow(const std::u16string& text) {
  return sys::Use<sys::ICodePage>().WideCharToMultiByte(sys::kCpAcp, text);
}

}  // namespace

TAdvReg::~TAdvReg() = default;

bool TAdvReg::OpenKey(const std::string& key, bool create) {
  CloseKey();
  sys::RegKey opened = 0;
  const sys::Long result = create ? Registry().RegCreateKeyExW(RootKey, Wide(key), Access, &opened)
                                  : Registry().RegOpenKeyExW(RootKey, Wide(key), Access, &opened);
  if (result != sys::kErrorSuccess) {
    return false;
  }
  CurrentKey.Reset(opened);
  return true;
}

void TAdvReg::CloseKey() { CurrentKey.Reset(); }

std::int32_t TAdvReg::ReadInteger(const std::string& key, const std::string& name) {
  RootKey = sys::kHkeyCurrentUser;
  std::int32_t value = 0;
  if (OpenKey(key, true)) {
    sys::Dword type = 0;
    std::uint8_t data[4] = {};
    sys::Dword size = sizeof data;
    if (Registry().RegQueryValueExW(CurrentKey.Get(), Wide(name), &type, data, &size) == sys::kErrorSuccess &&
        type == sys::kRegDword && size == sizeof data) {
      std::uint32_t raw = 0;
      std::memcpy(&raw, data, sizeof raw);
      value = static_cast<std::int32_t>(raw);
    }
    CloseKey();
  }
  return value;
}

void TAdvReg::WriteInteger(const std::string& key, const std::string& name, std::int32_t value) {
  RootKey = sys::kHkeyCurrentUser;
  if (OpenKey(key, true)) {
    const auto raw = static_cast<std::uint32_t>(value);
    std::uint8_t data[4];
    std::memcpy(data, &raw, sizeof data);
    Registry().RegSetValueExW(CurrentKey.Get(), Wide(name), sys::kRegDword, data, sizeof data);
    CloseKey();
  }
}

std::string TAdvReg::ReadString(const std::string& key, const std::string& name) {
  RootKey = sys::kHkeyCurrentUser;
  std::string text;
  if (OpenKey(key, true)) {
    const std::u16string wideName = Wide(name);
    sys::Dword type = 0;
    sys::Dword size = 0;
    if (Registry().RegQueryValueExW(CurrentKey.Get(), wideName, &type, nullptr, &size) == sys::kErrorSuccess &&
        (type == sys::kRegSz || type == sys::kRegExpandSz)) {
      std::vector<std::uint8_t> data(size + 2, 0);
      if (Registry().RegQueryValueExW(CurrentKey.Get(), wideName, &type, data.data(), &size) == sys::kErrorSuccess) {
        std::u16string wide(size / 2, u'\0');
        std::memcpy(wide.data(), data.data(), wide.size() * 2);
        wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
        text = Narrow(wide);
      }
    }
    CloseKey();
  }
  return text;
}

void TAdvReg::WriteString(const std::string& key, const std::string& name, const std::string& text) {
  RootKey = sys::kHkeyCurrentUser;
  if (OpenKey(key, true)) {
    SetStringValue(name, text);
    CloseKey();
  }
}

void TAdvReg::SetStringValue(const std::string& name, const std::string& text) {
  const std::u16string wide = Wide(text);
  std::vector<std::uint8_t> data((wide.size() + 1) * 2, 0);
  std::memcpy(data.data(), wide.data(), wide.size() * 2);
  Registry().RegSetValueExW(CurrentKey.Get(), Wide(name), sys::kRegSz, data.data(),
                            static_cast<sys::Dword>(data.size()));
}

void TAdvReg::SetRunEntry(const std::string& name, const std::string& command, bool add) {
  RootKey = sys::kHkeyCurrentUser;
  if (add) {
    if (OpenKey(kRunKey, true)) {
      SetStringValue(name, command.find(' ') != std::string::npos ? "\"" + command + "\"" : command);
      CloseKey();
    }
  } else if (OpenKey(kRunKey, false)) {
    Registry().RegDeleteValueW(CurrentKey.Get(), Wide(name));
    CloseKey();
  }
}

void TAdvReg::AddRunEntry(const std::string& name) { SetRunEntry(name, GetExePath(), true); }

void TAdvReg::RemoveRunEntry(const std::string& name) { SetRunEntry(name, GetExePath(), false); }

int ReadRegistryString(sys::RegKey root, const std::string& subKey, const std::string& name,
                       std::array<std::uint8_t, 260>& buffer, sys::Dword access) {
  sys::RegKeyHandle key;
  if (Registry().RegOpenKeyExA(root, subKey, sys::kKeyAllAccess | access, key.Put()) != sys::kErrorSuccess) {
    return 0;
  }
  sys::Dword size = static_cast<sys::Dword>(buffer.size());
  return Registry().RegQueryValueExA(key.Get(), name, nullptr, buffer.data(), &size) == sys::kErrorSuccess ? 1 : 0;
}

}  // namespace kestrune
