// Version resources of files through the version library, loaded from the
// system folder at its first use.
#pragma once

#include <windows.h>

#include <vector>

#include "sys/FileVersion.h"
#include "sys/win32/SystemLibrary.h"

namespace kestrune::sys::win32 {

class Win32FileVersion : public IFileVersion {
 public:
  bool QueryFixedFileVersion(const std::string& path, Dword* versionMs, Dword* versionLs) override {
    const Functions& version = Version();
    if (version.GetInfoSize == nullptr || version.GetInfo == nullptr || version.QueryValue == nullptr) {
      return false;
    }
    DWORD ignored = 0;
    const DWORD size = version.GetInfoSize(path.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    if (size == 0 || !version.GetInfo(path.c_str(), 0, size, block.data())) {
      return false;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!version.QueryValue(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
      return false;
    }
    *versionMs = fixed->dwFileVersionMS;
    *versionLs = fixed->dwFileVersionLS;
    return true;
  }

 private:
  struct Functions {
    SystemLibrary Library{L"version.dll"};
    decltype(&::GetFileVersionInfoSizeA) GetInfoSize =
        Library.Function<decltype(&::GetFileVersionInfoSizeA)>("GetFileVersionInfoSizeA");
    decltype(&::GetFileVersionInfoA) GetInfo =
        Library.Function<decltype(&::GetFileVersionInfoA)>("GetFileVersionInfoA");
    decltype(&::VerQueryValueA) QueryValue = Library.Function<decltype(&::VerQueryValueA)>("VerQueryValueA");
  };
  // Loaded at the first query, after the program has restricted where
  // libraries come from; kept until the process ends.
  static const Functions& Version() {
    static const Functions functions;
    return functions;
  }
};

}  // namespace kestrune::sys::win32
