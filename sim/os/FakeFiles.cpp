#include "sim/os/FakeFiles.h"

#include <algorithm>

namespace kestrune::sim {

std::string FakeFiles::Key(const std::string& path) {
  std::string key = path;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  std::replace(key.begin(), key.end(), '/', '\\');
  return key;
}

bool FakeFiles::Exists(const std::string& path) const { return Files.count(Key(path)) != 0; }

std::vector<std::uint8_t> FakeFiles::Content(const std::string& path) const {
  auto it = Files.find(Key(path));
  return it == Files.end() ? std::vector<std::uint8_t>() : it->second.Data;
}

void FakeFiles::Put(const std::string& path, std::vector<std::uint8_t> content) {
  Files[Key(path)] = File{path, std::move(content), {}};
}

sys::FileHandle FakeFiles::CreateFileA(const std::string& path, sys::Dword access, sys::Dword, sys::Dword disposition,
                                       sys::Dword) {
  const bool create = disposition == sys::kCreateAlways;
  Calls.push_back((create ? "create " : "open ") + path);
  if (Log != nullptr) {
    Log->Add((create ? "create file " : "open file ") + path);
  }
  const std::string key = Key(path);
  for (const auto* errors : {&OpenErrors, create ? &CreateErrors : nullptr}) {
    if (errors == nullptr) {
      continue;
    }
    for (const auto& [failing, code] : *errors) {
      if (Key(failing) == key) {
        Fail(code);
        return sys::kInvalidHandleValue;
      }
    }
  }
  if (create) {
    Files[key] = File{path, {}, {}};
  } else if (Files.count(key) == 0) {
    Fail(static_cast<sys::Dword>(sys::kErrorFileNotFound));
    return sys::kInvalidHandleValue;
  }
  const sys::FileHandle handle = NextHandle;
  NextHandle += 4;
  Handles.emplace(handle, OpenFile{key, access, 0});
  LastError = 0;
  return handle;
}

sys::FileHandle FakeFiles::CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share,
                                       sys::Dword disposition, sys::Dword flagsAndAttributes) {
  std::string narrow;
  for (char16_t c : path) {
    if (c < 0x80) {
      narrow.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      narrow.push_back(static_cast<char>(0xC0 | (c >> 6)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      narrow.push_back(static_cast<char>(0xE0 | (c >> 12)));
      narrow.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return CreateFileA(narrow, access, share, disposition, flagsAndAttributes);
}

bool FakeFiles::ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) {
  *read = 0;
  auto it = Handles.find(file);
  if (it == Handles.end()) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  if ((it->second.Access & sys::kGenericRead) == 0) {
    return Fail(static_cast<sys::Dword>(sys::kErrorAccessDenied));
  }
  const auto& content = Files[it->second.Key].Data;
  const std::size_t position = std::min(it->second.Position, content.size());
  const std::size_t count = std::min<std::size_t>(size, content.size() - position);
  std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(position), count, static_cast<std::uint8_t*>(buffer));
  it->second.Position = position + count;
  *read = static_cast<sys::Dword>(count);
  LastError = 0;
  return true;
}

bool FakeFiles::WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) {
  *written = 0;
  auto it = Handles.find(file);
  if (it == Handles.end()) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  if ((it->second.Access & sys::kGenericWrite) == 0) {
    return Fail(static_cast<sys::Dword>(sys::kErrorAccessDenied));
  }
  const sys::Dword count = ShortWrites && size > 0 ? size - 1 : size;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  auto& content = Files[it->second.Key].Data;
  std::size_t& position = it->second.Position;
  if (content.size() < position + count) {
    content.resize(position + count);
  }
  std::copy_n(bytes, count, content.begin() + static_cast<std::ptrdiff_t>(position));
  position += count;
  *written = count;
  LastError = 0;
  return true;
}

bool FakeFiles::GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) {
  auto it = Handles.find(file);
  if (it == Handles.end()) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  *size = Files[it->second.Key].Data.size();
  LastError = 0;
  return true;
}

bool FakeFiles::DeviceIoControl(sys::FileHandle device, sys::Dword, const void*, sys::Dword, void*, sys::Dword,
                                sys::Dword* returned) {
  if (returned != nullptr) {
    *returned = 0;
  }
  return Fail(
      static_cast<sys::Dword>(Handles.count(device) != 0 ? sys::kErrorInvalidFunction : sys::kErrorInvalidHandle));
}

bool FakeFiles::SetFileTime(sys::FileHandle file, const sys::FileTime*, const sys::FileTime*,
                            const sys::FileTime* lastWrite) {
  auto it = Handles.find(file);
  if (it == Handles.end()) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  if (lastWrite != nullptr) {
    Files[it->second.Key].LastWrite = *lastWrite;
  }
  return true;
}

bool FakeFiles::CloseHandle(sys::FileHandle handle) {
  if (Handles.erase(handle) == 0) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  return true;
}

}  // namespace kestrune::sim
