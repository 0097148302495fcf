// The system, Windows and program-files folders.
#pragma once

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "sys/SystemFolders.h"

namespace kestrune::sys::win32 {

class Win32SystemFolders : public ISystemFolders {
 public:
  std::string GetSystemDirectoryA() override { return Folder(::GetSystemDirectoryA); }
  std::string GetWindowsDirectoryA() override { return Folder(::GetWindowsDirectoryA); }
  std::string GetProgramFilesDirectoryA() override {
    PWSTR wide = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &wide)) && wide != nullptr) {
      const int length = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
      if (length > 1) {
        folder.resize(static_cast<std::size_t>(length));
        ::WideCharToMultiByte(CP_ACP, 0, wide, -1, folder.data(), length, nullptr, nullptr);
        folder.resize(static_cast<std::size_t>(length - 1));
      }
    }
    ::CoTaskMemFree(wide);  // also when the call failed (it may set the pointer)
    return folder;
  }

 private:
  static std::string Folder(UINT(WINAPI* query)(LPSTR, UINT)) {
    char buffer[MAX_PATH] = {};
    const UINT length = query(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
  }
};

}  // namespace kestrune::sys::win32
