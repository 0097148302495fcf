// A decorator of the file seam for tests: counts the driver requests that
// pass and fails chosen ones, then hands the rest to the seam below.
#pragma once

#include <cstring>
#include <functional>

#include "common/DriverContract.h"
#include "sys/Files.h"
#include "sys/Seam.h"

namespace kestrune::test {

class FileSeamTap : public sys::IFiles {
 public:
  FileSeamTap() : Inner(sys::Use<sys::IFiles>()), Seam(*this) {}

  // Physical-memory read requests seen, and a rule that fails some by address.
  int MemoryReads = 0;
  std::function<bool(std::uint64_t address, std::uint32_t length)> FailRead;
  std::vector<std::uint32_t> Codes;

  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flags) override {
    return Inner.CreateFileA(path, access, share, disposition, flags);
  }
  sys::FileHandle CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flags) override {
    return Inner.CreateFileW(path, access, share, disposition, flags);
  }
  bool ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) override {
    return Inner.ReadFile(file, buffer, size, read);
  }
  bool WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) override {
    return Inner.WriteFile(file, data, size, written);
  }
  bool GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) override { return Inner.GetFileSizeEx(file, size); }
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override {
    Codes.push_back(code);
    if (code == kIoctlReadPhysicalMemory && in != nullptr && inSize >= sizeof(DRV_MEMORY_REQUEST)) {
      ++MemoryReads;
      DRV_MEMORY_REQUEST request;
      std::memcpy(&request, in, sizeof request);
      if (FailRead && FailRead(request.PhysicalAddress, request.Length)) {
        failed_ = true;
        return false;
      }
    }
    failed_ = false;
    return Inner.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  bool SetFileTime(sys::FileHandle file, const sys::FileTime* c, const sys::FileTime* a,
                   const sys::FileTime* w) override {
    return Inner.SetFileTime(file, c, a, w);
  }
  bool CloseHandle(sys::FileHandle handle) override { return Inner.CloseHandle(handle); }
  sys::Dword GetLastError() override { return failed_ ? 31 : Inner.GetLastError(); }

 private:
  sys::IFiles& Inner;
  sys::ScopedSeam<sys::IFiles> Seam;
  bool failed_ = false;
};

}  // namespace kestrune::test
