// Counts the requests the program sends to the hardware access driver, on
// whatever file seam is installed (the real system's or a simulated
// board's): every DeviceIoControl whose code has the driver's device type.
// While it lives it is the installed file seam and passes every call on.
#pragma once

#include <cstdint>

#include "sys/Files.h"
#include "sys/Seam.h"

namespace kestrune::tools {

class DriverRequestCounter : public sys::IFiles {
 public:
  DriverRequestCounter();

  std::uint64_t Requests() const { return requests_; }

  sys::FileHandle CreateFileA(const std::string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  sys::FileHandle CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share, sys::Dword disposition,
                              sys::Dword flagsAndAttributes) override;
  bool ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) override;
  bool WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) override;
  bool GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) override;
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override;
  bool SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                   const sys::FileTime* lastWrite) override;
  bool CloseHandle(sys::FileHandle handle) override;
  sys::Dword GetLastError() override;

 private:
  sys::IFiles& inner_;
  sys::ScopedSeam<sys::IFiles> seam_;
  std::uint64_t requests_ = 0;
};

}  // namespace kestrune::tools
