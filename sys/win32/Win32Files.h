// Files and devices through their handles.
#pragma once

#include "sys/Files.h"

namespace kestrune::sys::win32 {

class Win32Files : public IFiles {
 public:
  FileHandle CreateFileA(const std::string& path, Dword access, Dword share, Dword disposition,
                         Dword flagsAndAttributes) override;
  FileHandle CreateFileW(const std::u16string& path, Dword access, Dword share, Dword disposition,
                         Dword flagsAndAttributes) override;
  bool ReadFile(FileHandle file, void* buffer, Dword size, Dword* read) override;
  bool WriteFile(FileHandle file, const void* data, Dword size, Dword* written) override;
  bool GetFileSizeEx(FileHandle file, std::uint64_t* size) override;
  bool DeviceIoControl(FileHandle device, Dword code, const void* in, Dword inSize, void* out, Dword outSize,
                       Dword* returned) override;
  bool SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                   const FileTime* lastWrite) override;
  bool CloseHandle(FileHandle handle) override;
  Dword GetLastError() override;
};

}  // namespace kestrune::sys::win32
