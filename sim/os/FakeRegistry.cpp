#include "sim/os/FakeRegistry.h"

#include <algorithm>
#include <cstring>

#include "common/LittleEndian.h"

namespace kestrune::sim {

namespace {

std::string Latin1(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit < 0x100 ? unit : '?'));
  }
  return out;
}

std::string RootName(sys::RegKey root) {
  if (root == sys::kHkeyCurrentUser) {
    return "HKCU";
  }
  if (root == sys::kHkeyLocalMachine) {
    return "HKLM";
  }
  return {};
}

std::string Describe(const FakeRegistry::Value& value) {
  if (value.Type == sys::kRegDword && value.Data.size() == 4) {
    return std::to_string(Le32(value.Data.data()));
  }
  std::string text;
  for (std::size_t i = 0; i + 1 < value.Data.size(); i += 2) {
    const char16_t unit = Le16(&value.Data[i]);
    if (unit == 0) {
      break;
    }
    text.push_back(static_cast<char>(unit));
  }
  return "\"" + text + "\"";
}

}  // namespace

std::string FakeRegistry::Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
  return text;
}

std::string FakeRegistry::KeyId(const std::string& fullPath, View view) const {
  std::string id = Upper(fullPath);
  while (!id.empty() && id.back() == '\\') {
    id.pop_back();
  }
  if (id.rfind("HKLM", 0) == 0) {
    id.insert(4, view == View::Wow32 ? "32" : "64");
  }
  return id;
}

sys::Long FakeRegistry::Open(sys::RegKey root, const std::string& subKey, sys::Dword access, bool create,
                             sys::RegKey* result) {
  if (FailOpen != 0) {
    return FailOpen;
  }
  std::string rootName;
  std::string base;
  if (auto parent = Handles.find(root); parent != Handles.end()) {
    base = Keys.at(parent->second).Path;
  } else {
    rootName = RootName(root);
    if (rootName.empty()) {
      return sys::kErrorInvalidHandle;
    }
    base = rootName;
  }
  const View view = (access & sys::kKeyWow64_32Key) != 0 ? View::Wow32 : View::Native64;
  const std::string path = subKey.empty() ? base : base + "\\" + subKey;
  const std::string id = KeyId(path, view);
  if (Keys.find(id) == Keys.end()) {
    if (!create) {
      return sys::kErrorFileNotFound;
    }
    // Every missing key on the way is created too.
    for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
      Keys.try_emplace(KeyId(path.substr(0, at), view), Key{path.substr(0, at), {}});
    }
    Keys.try_emplace(id, Key{path, {}});
    if (Log != nullptr) {
      Log->Add("reg create " + path);
    }
  }
  *result = NextHandle++;
  Handles[*result] = id;
  return sys::kErrorSuccess;
}

FakeRegistry::Key* FakeRegistry::Find(sys::RegKey handle) {
  auto it = Handles.find(handle);
  return it == Handles.end() ? nullptr : &Keys.at(it->second);
}

sys::Long FakeRegistry::RegCreateKeyExW(sys::RegKey root, const std::u16string& subKey, sys::Dword access,
                                        sys::RegKey* result) {
  return Open(root, Latin1(subKey), access, true, result);
}

sys::Long FakeRegistry::RegOpenKeyExW(sys::RegKey root, const std::u16string& subKey, sys::Dword access,
                                      sys::RegKey* result) {
  return Open(root, Latin1(subKey), access, false, result);
}

sys::Long FakeRegistry::RegOpenKeyExA(sys::RegKey root, const std::string& subKey, sys::Dword access,
                                      sys::RegKey* result) {
  return Open(root, subKey, access, false, result);
}

sys::Long FakeRegistry::RegQueryValueExA(sys::RegKey key, const std::string& name, sys::Dword* type, std::uint8_t* data,
                                         sys::Dword* size) {
  Key* found = Find(key);
  if (found == nullptr) {
    return sys::kErrorInvalidHandle;
  }
  auto it = found->Values.find(Upper(name));
  if (it == found->Values.end()) {
    return sys::kErrorFileNotFound;
  }
  Value value = it->second.second;
  if (value.Type == sys::kRegSz || value.Type == sys::kRegExpandSz) {
    // The narrow API hands texts over in the code page.
    std::vector<std::uint8_t> narrow;
    for (std::size_t i = 0; i + 1 < value.Data.size(); i += 2) {
      narrow.push_back(value.Data[i]);
    }
    value.Data = narrow;
  }
  return CopyOut(value, type, data, size);
}

sys::Long FakeRegistry::RegQueryValueExW(sys::RegKey key, const std::u16string& name, sys::Dword* type,
                                         std::uint8_t* data, sys::Dword* size) {
  Key* found = Find(key);
  if (found == nullptr) {
    return sys::kErrorInvalidHandle;
  }
  auto it = found->Values.find(Upper(Latin1(name)));
  if (it == found->Values.end()) {
    return sys::kErrorFileNotFound;
  }
  return CopyOut(it->second.second, type, data, size);
}

sys::Long FakeRegistry::CopyOut(const Value& value, sys::Dword* type, std::uint8_t* data, sys::Dword* size) {
  if (type != nullptr) {
    *type = value.Type;
  }
  const auto needed = static_cast<sys::Dword>(value.Data.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return sys::kErrorMoreData;
  }
  if (data != nullptr && needed > 0) {
    std::memcpy(data, value.Data.data(), needed);
  }
  *size = needed;
  return sys::kErrorSuccess;
}

sys::Long FakeRegistry::RegSetValueExW(sys::RegKey key, const std::u16string& name, sys::Dword type,
                                       const std::uint8_t* data, sys::Dword size) {
  Key* found = Find(key);
  if (found == nullptr) {
    return sys::kErrorInvalidHandle;
  }
  const std::string narrowName = Latin1(name);
  Value value{type, std::vector<std::uint8_t>(data, data + size)};
  if (Log != nullptr) {
    Log->Add("reg set " + narrowName + "=" + Describe(value));
  }
  found->Values[Upper(narrowName)] = {narrowName, std::move(value)};
  return sys::kErrorSuccess;
}

sys::Long FakeRegistry::RegDeleteValueW(sys::RegKey key, const std::u16string& name) {
  Key* found = Find(key);
  if (found == nullptr) {
    return sys::kErrorInvalidHandle;
  }
  if (found->Values.erase(Upper(Latin1(name))) == 0) {
    return sys::kErrorFileNotFound;
  }
  if (Log != nullptr) {
    Log->Add("reg delete " + Latin1(name));
  }
  return sys::kErrorSuccess;
}

sys::Long FakeRegistry::RegDeleteKeyW(sys::RegKey root, const std::u16string& subKey) {
  const std::string rootName = RootName(root);
  if (rootName.empty()) {
    return sys::kErrorInvalidHandle;
  }
  const std::string id = KeyId(rootName + "\\" + Latin1(subKey), View::Native64);
  if (Keys.find(id) == Keys.end()) {
    return sys::kErrorFileNotFound;
  }
  for (const auto& [other, key] : Keys) {
    if (other.rfind(id + "\\", 0) == 0) {
      return sys::kErrorAccessDenied;
    }
  }
  Keys.erase(id);
  return sys::kErrorSuccess;
}

sys::Long FakeRegistry::RegEnumKeyExA(sys::RegKey key, sys::Dword index, std::string* name, sys::Dword nameCapacity) {
  auto handle = Handles.find(key);
  if (handle == Handles.end()) {
    return sys::kErrorInvalidHandle;
  }
  const std::string prefix = handle->second + "\\";
  sys::Dword seen = 0;
  for (const auto& [id, child] : Keys) {
    if (id.rfind(prefix, 0) != 0 || id.find('\\', prefix.size()) != std::string::npos) {
      continue;
    }
    if (seen++ == index) {
      *name = child.Path.substr(child.Path.rfind('\\') + 1);
      return name->size() < nameCapacity ? sys::kErrorSuccess : sys::kErrorMoreData;
    }
  }
  return sys::kErrorNoMoreItems;
}

sys::Long FakeRegistry::RegEnumValueA(sys::RegKey key, sys::Dword index, std::string* name, sys::Dword nameCapacity) {
  Key* found = Find(key);
  if (found == nullptr) {
    return sys::kErrorInvalidHandle;
  }
  if (index >= found->Values.size()) {
    return sys::kErrorNoMoreItems;
  }
  *name = std::next(found->Values.begin(), index)->second.first;
  return name->size() < nameCapacity ? sys::kErrorSuccess : sys::kErrorMoreData;
}

sys::Long FakeRegistry::RegCloseKey(sys::RegKey key) {
  return Handles.erase(key) == 1 ? sys::kErrorSuccess : sys::kErrorInvalidHandle;
}

bool FakeRegistry::KeyExists(const std::string& path, View view) const { return Keys.count(KeyId(path, view)) == 1; }

std::optional<FakeRegistry::Value> FakeRegistry::GetValue(const std::string& path, const std::string& name,
                                                          View view) const {
  auto key = Keys.find(KeyId(path, view));
  if (key == Keys.end()) {
    return std::nullopt;
  }
  auto value = key->second.Values.find(Upper(name));
  if (value == key->second.Values.end()) {
    return std::nullopt;
  }
  return value->second.second;
}

std::optional<std::uint32_t> FakeRegistry::GetDword(const std::string& path, const std::string& name) const {
  const auto value = GetValue(path, name);
  if (!value || value->Type != sys::kRegDword || value->Data.size() != 4) {
    return std::nullopt;
  }
  return Le32(value->Data.data());
}

std::optional<std::string> FakeRegistry::GetString(const std::string& path, const std::string& name, View view) const {
  const auto value = GetValue(path, name, view);
  if (!value || (value->Type != sys::kRegSz && value->Type != sys::kRegExpandSz)) {
    return std::nullopt;
  }
  std::string text = Describe(*value);
  return text.substr(1, text.size() - 2);
}

void FakeRegistry::SetDword(const std::string& path, const std::string& name, std::uint32_t value) {
  Key& key = Keys.try_emplace(KeyId(path, View::Native64), Key{path, {}}).first->second;
  Value stored{sys::kRegDword, std::vector<std::uint8_t>(4)};
  PutLe32(stored.Data.data(), value);
  key.Values[Upper(name)] = {name, stored};
}

void FakeRegistry::SetString(const std::string& path, const std::string& name, const std::string& text, View view) {
  Key& key = Keys.try_emplace(KeyId(path, view), Key{path, {}}).first->second;
  Value stored{sys::kRegSz, {}};
  for (char c : text) {
    stored.Data.push_back(static_cast<std::uint8_t>(c));
    stored.Data.push_back(0);
  }
  stored.Data.push_back(0);
  stored.Data.push_back(0);
  key.Values[Upper(name)] = {name, stored};
}

void FakeRegistry::DeleteKey(const std::string& path, View view) { Keys.erase(KeyId(path, view)); }

}  // namespace kestrune::sim
