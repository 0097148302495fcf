// Files and folders by name.
#pragma once

#include "sys/FileSystem.h"

namespace kestrune::sys::win32 {

class Win32FileSystem : public IFileSystem {
 public:
  Dword GetFileAttributesA(const std::string& path) override;
  bool GetFileAttributesExW(const std::u16string& path, FileAttributeData* data) override;
  bool CreateDirectoryA(const std::string& path) override;
  bool CreateDirectoryW(const std::u16string& path) override;
  bool MoveFileA(const std::string& existing, const std::string& target) override;
  bool CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) override;
  bool DeleteFileW(const std::u16string& path) override;
  bool RemoveDirectoryW(const std::u16string& path) override;
  bool DeleteAtRestart(const std::u16string& path) override;
  bool DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, FileTime* fileTime) override;
  bool LocalFileTimeToFileTime(const FileTime& localTime, FileTime* fileTime) override;
  Dword GetLastError() override;
};

}  // namespace kestrune::sys::win32
