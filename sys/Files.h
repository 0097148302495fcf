// Files and devices through their handles: CreateFile, ReadFile, WriteFile,
// GetFileSizeEx, DeviceIoControl and CloseHandle. The hardware access
// driver, volumes and disks are devices on this seam; the simulated board
// answers for them.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidHandleValue = -1;

inline constexpr Dword kGenericRead = 0x80000000;
inline constexpr Dword kGenericWrite = 0x40000000;
inline constexpr Dword kFileShareRead = 0x1;
inline constexpr Dword kFileShareWrite = 0x2;
inline constexpr Dword kCreateAlways = 2;
inline constexpr Dword kOpenExisting = 3;
inline constexpr Dword kFileAttributeNormal = 0x80;
inline constexpr Dword kFileFlagDeleteOnClose = 0x04000000;

// A FILETIME: 100-nanosecond intervals since 1601-01-01.
struct FileTime {
  Dword LowDateTime = 0;
  Dword HighDateTime = 0;
};

class IFiles {
 public:
  virtual ~IFiles() = default;
  // kInvalidHandleValue on failure, with the reason in GetLastError().
  virtual FileHandle CreateFileA(const std::string& path, Dword access, Dword share, Dword disposition,
                                 Dword flagsAndAttributes) = 0;
  virtual FileHandle CreateFileW(const std::u16string& path, Dword access, Dword share, Dword disposition,
                                 Dword flagsAndAttributes) = 0;
  // Reads up to size bytes from the file's position and moves it on; at the
  // end of the file it succeeds with *read 0.
  virtual bool ReadFile(FileHandle file, void* buffer, Dword size, Dword* read) = 0;
  virtual bool WriteFile(FileHandle file, const void* data, Dword size, Dword* written) = 0;
  virtual bool GetFileSizeEx(FileHandle file, std::uint64_t* size) = 0;
  virtual bool DeviceIoControl(FileHandle device, Dword code, const void* in, Dword inSize, void* out, Dword outSize,
                               Dword* returned) = 0;
  virtual bool SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                           const FileTime* lastWrite) = 0;
  virtual bool CloseHandle(FileHandle handle) = 0;
  // The error of the last failed call on this seam.
  virtual Dword GetLastError() = 0;
};

inline void CloseFileHandle(FileHandle handle) { Use<IFiles>().CloseHandle(handle); }

// A file or device handle, closed when the object goes.
using UniqueFileHandle = UniqueAny<FileHandle, kInvalidHandleValue, CloseFileHandle>;

}  // namespace kestrune::sys
