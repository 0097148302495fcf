// The file seams over the host's POSIX file system, for measuring extraction
// natively against other tools: "\\" separators become "/", times are UTC.
#pragma once

#include "sys/Errors.h"
#include "sys/FileSystem.h"
#include "sys/Files.h"

namespace kestrune::bench {

class PosixFiles : public sys::IFiles, public sys::IFileSystem {
 public:
  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  sys::FileHandle CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  bool ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) override;
  bool WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) override;
  bool GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) override;
  bool DeviceIoControl(sys::FileHandle, sys::Dword, const void*, sys::Dword, void*, sys::Dword, sys::Dword*) override {
    return false;
  }
  bool SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                   const sys::FileTime* lastWrite) override;
  bool CloseHandle(sys::FileHandle handle) override;
  sys::Dword GetFileAttributesA(const std::string& path) override;
  bool GetFileAttributesExW(const std::u16string& path, sys::FileAttributeData* data) override;
  bool CreateDirectoryA(const std::string& path) override;
  bool CreateDirectoryW(const std::u16string& path) override;
  bool MoveFileA(const std::string& existing, const std::string& target) override;
  bool CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) override;
  bool DeleteFileW(const std::u16string& path) override;
  bool RemoveDirectoryW(const std::u16string& path) override;
  // Nothing is removed at a restart here: the benchmarks need none.
  bool DeleteAtRestart(const std::u16string&) override {
    LastError = static_cast<sys::Dword>(sys::kErrorAccessDenied);
    return false;
  }
  bool DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, sys::FileTime* fileTime) override;
  bool LocalFileTimeToFileTime(const sys::FileTime& localTime, sys::FileTime* fileTime) override;
  sys::Dword GetLastError() override { return LastError; }

 private:
  sys::Dword LastError = 0;
};

}  // namespace kestrune::bench
