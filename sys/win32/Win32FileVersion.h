// Version resources of files through the version library.
#pragma once

#include <windows.h>

#include <vector>

#include "sys/FileVersion.h"

namespace kestrune::sys::win32 {

class Win32FileVersion : public IFileVersion {
 public:
  bool QueryFixedFileVersion(const std::string& path, Dword* versionMs, Dword* versionLs) override {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    if (size == 0 || !::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
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
};

}  // namespace kestrune::sys::win32
