#include "sys/win32/Win32Os.h"

#include <windows.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace kestrune::sys::win32 {

void Win32Console::Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void Win32Console::Flush() { std::fflush(stdout); }

int Win32Dialogs::MessageBoxA(const std::string& text, const std::string& caption, Dword type) {
  return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
}

std::string Win32ProcessEnvironment::GetCommandLineA() { return ::GetCommandLineA(); }

std::string Win32ProcessEnvironment::GetModuleFileNameA(Dword capacity) {
  std::vector<char> buffer(capacity + 1, '\0');
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), capacity);
  return std::string(buffer.data(), length);
}

std::string Win32ProcessEnvironment::GetCurrentDirectoryA(Dword capacity) {
  std::vector<char> buffer(capacity + 1, '\0');
  const DWORD length = ::GetCurrentDirectoryA(capacity, buffer.data());
  return length < capacity ? std::string(buffer.data(), length) : std::string();
}

void Win32ProcessEnvironment::Sleep(Dword milliseconds) { ::Sleep(milliseconds); }

bool Win32FileVersion::QueryFixedFileVersion(const std::string& path, Dword* versionMs, Dword* versionLs) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) {
    return false;
  }
  std::vector<std::uint8_t> block(size);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
    return false;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  *versionMs = fixed->dwFileVersionMS;
  *versionLs = fixed->dwFileVersionLS;
  return true;
}

int CrtDirectoryListing::ListDirectory(const std::string& path, std::vector<std::string>* names) {
  struct Closer {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, Closer> dir(opendir(path.c_str()));
  if (!dir) {
    return errno;
  }
  names->clear();
  while (const dirent* entry = readdir(dir.get())) {
    names->push_back(entry->d_name);
  }
  return 0;
}

std::string Win32CodePage::CharUpperA(const std::string& text) {
  std::string upper = text;
  if (!upper.empty()) {
    ::CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  }
  return upper;
}

std::optional<std::u16string> Win32CodePage::MultiByteToWideChar(Dword codePage, const std::string& text) {
  if (text.empty()) {
    return std::u16string();
  }
  const int length =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return std::nullopt;
  }
  std::u16string wide(static_cast<std::size_t>(length), u'\0');
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<LPWSTR>(wide.data()), length);
  return wide;
}

std::string Win32CodePage::WideCharToMultiByte(Dword codePage, const std::u16string& text) {
  if (text.empty()) {
    return {};
  }
  const auto* wide = reinterpret_cast<LPCWCH>(text.data());
  const int length =
      ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

bool Win32CodePage::IsDBCSLeadByteEx(Dword codePage, std::uint8_t byte) {
  return ::IsDBCSLeadByteEx(codePage, byte) != FALSE;
}

}  // namespace kestrune::sys::win32
