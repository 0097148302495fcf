#include "sys/win32/Win32FileSystem.h"

#include <windows.h>

namespace kestrune::sys::win32 {

namespace {

LPCWSTR Wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

FileTime FromFileTime(const FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

FILETIME ToFileTime(const FileTime& time) {
  FILETIME result;
  result.dwLowDateTime = time.LowDateTime;
  result.dwHighDateTime = time.HighDateTime;
  return result;
}

}  // namespace

Dword Win32FileSystem::GetFileAttributesA(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

bool Win32FileSystem::GetFileAttributesExW(const std::u16string& path, FileAttributeData* data) {
  WIN32_FILE_ATTRIBUTE_DATA found{};
  if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &found)) {
    return false;
  }
  data->FileAttributes = found.dwFileAttributes;
  data->CreationTime = FromFileTime(found.ftCreationTime);
  data->LastAccessTime = FromFileTime(found.ftLastAccessTime);
  data->LastWriteTime = FromFileTime(found.ftLastWriteTime);
  data->FileSize = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
  return true;
}

bool Win32FileSystem::CreateDirectoryA(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

bool Win32FileSystem::CreateDirectoryW(const std::u16string& path) {
  return ::CreateDirectoryW(Wide(path), nullptr) != FALSE;
}

bool Win32FileSystem::MoveFileA(const std::string& existing, const std::string& target) {
  return ::MoveFileExA(existing.c_str(), target.c_str(), 0) != FALSE;
}

bool Win32FileSystem::CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) {
  return ::CopyFileW(Wide(existing), Wide(target), failIfExists ? TRUE : FALSE) != FALSE;
}

bool Win32FileSystem::DeleteFileW(const std::u16string& path) { return ::DeleteFileW(Wide(path)) != FALSE; }

bool Win32FileSystem::RemoveDirectoryW(const std::u16string& path) { return ::RemoveDirectoryW(Wide(path)) != FALSE; }

bool Win32FileSystem::DeleteAtRestart(const std::u16string& path) {
  return ::MoveFileExW(Wide(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool Win32FileSystem::DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, FileTime* fileTime) {
  FILETIME result{};
  if (!::DosDateTimeToFileTime(fatDate, fatTime, &result)) {
    return false;
  }
  *fileTime = FromFileTime(result);
  return true;
}

bool Win32FileSystem::LocalFileTimeToFileTime(const FileTime& localTime, FileTime* fileTime) {
  const FILETIME local = ToFileTime(localTime);
  FILETIME result{};
  if (!::LocalFileTimeToFileTime(&local, &result)) {
    return false;
  }
  *fileTime = FromFileTime(result);
  return true;
}

Dword Win32FileSystem::GetLastError() { return ::GetLastError(); }

}  // namespace kestrune::sys::win32
