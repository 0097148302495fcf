// Files and folders by name: existence, attributes and times, folders,
// renames, copies, removals, and the conversions of DOS and local file times.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Files.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

inline constexpr Dword kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr Dword kFileAttributeDirectory = 0x10;

// WIN32_FILE_ATTRIBUTE_DATA.
struct FileAttributeData {
  Dword FileAttributes = 0;
  FileTime CreationTime;
  FileTime LastAccessTime;
  FileTime LastWriteTime;
  std::uint64_t FileSize = 0;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // kInvalidFileAttributes when the path does not exist.
  virtual Dword GetFileAttributesA(const std::string& path) = 0;
  virtual bool GetFileAttributesExW(const std::u16string& path, FileAttributeData* data) = 0;
  // One level: fails when the folder exists (kErrorAlreadyExists) or its
  // parent does not (kErrorPathNotFound).
  virtual bool CreateDirectoryA(const std::string& path) = 0;
  virtual bool CreateDirectoryW(const std::u16string& path) = 0;
  // Renames a file or folder on its volume (MoveFileExA without flags):
  // fails when the target exists (kErrorAlreadyExists) or the source does
  // not (kErrorFileNotFound).
  virtual bool MoveFileA(const std::string& existing, const std::string& target) = 0;
  virtual bool CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) = 0;
  // Removes a file: fails for a folder (kErrorAccessDenied), a file that is
  // open (kErrorSharingViolation) or a missing one (kErrorFileNotFound).
  virtual bool DeleteFileW(const std::u16string& path) = 0;
  // Removes an empty folder: fails for one that holds anything
  // (kErrorDirNotEmpty), a file (kErrorDirectory) or a missing one.
  virtual bool RemoveDirectoryW(const std::u16string& path) = 0;
  // Has a file, or an empty folder, removed when the system next starts
  // (MoveFileExW with no target and MOVEFILE_DELAY_UNTIL_REBOOT; needs
  // administrator rights): for a file that cannot go now, such as the
  // running program.
  virtual bool DeleteAtRestart(const std::u16string& path) = 0;
  virtual bool DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, FileTime* fileTime) = 0;
  virtual bool LocalFileTimeToFileTime(const FileTime& localTime, FileTime* fileTime) = 0;
  // The error of the last failed call on this seam.
  virtual Dword GetLastError() = 0;
};

}  // namespace kestrune::sys
