#include "sys/win32/Win32FileVersion.h"

#include <windows.h>

#include <vector>

namespace kestrune::sys::win32 {

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

}  // namespace kestrune::sys::win32
