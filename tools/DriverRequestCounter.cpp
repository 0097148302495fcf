#include "tools/DriverRequestCounter.h"

#include "common/DriverContract.h"

namespace kestrune::tools {

namespace {

constexpr sys::Dword kDriverDeviceType = kIoctlReadPhysicalMemory >> 16;

}  // namespace

DriverRequestCounter::DriverRequestCounter() : inner_(sys::Use<sys::IFiles>()), seam_(*this) {}

sys::FileHandle DriverRequestCounter::CreateFileA(const std::string& path, sys::Dword access, sys::Dword share,
                                                  sys::Dword disposition, sys::Dword flagsAndAttributes) {
  return inner_.CreateFileA(path, access, share, disposition, flagsAndAttributes);
}

sys::FileHandle DriverRequestCounter::CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share,
                                                  sys::Dword disposition, sys::Dword flagsAndAttributes) {
  return inner_.CreateFileW(path, access, share, disposition, flagsAndAttributes);
}

bool DriverRequestCounter::ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) {
  return inner_.ReadFile(file, buffer, size, read);
}

bool DriverRequestCounter::WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) {
  return inner_.WriteFile(file, data, size, written);
}

bool DriverRequestCounter::GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) {
  return inner_.GetFileSizeEx(file, size);
}

bool DriverRequestCounter::DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize,
                                           void* out, sys::Dword outSize, sys::Dword* returned) {
  if ((code >> 16) == kDriverDeviceType) {
    ++requests_;
  }
  return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
}

bool DriverRequestCounter::SetFileTime(sys::FileHandle file, const sys::FileTime* creation,
                                       const sys::FileTime* lastAccess, const sys::FileTime* lastWrite) {
  return inner_.SetFileTime(file, creation, lastAccess, lastWrite);
}

bool DriverRequestCounter::CloseHandle(sys::FileHandle handle) { return inner_.CloseHandle(handle); }

sys::Dword DriverRequestCounter::GetLastError() { return inner_.GetLastError(); }

}  // namespace kestrune::tools
