#include "sys/win32/Win32Files.h"

#include <windows.h>

namespace kestrune::sys::win32 {

namespace {

HANDLE ToHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandleValue : reinterpret_cast<FileHandle>(handle);
}

const FILETIME* ToFileTime(const FileTime* time, FILETIME* storage) {
  if (time == nullptr) {
    return nullptr;
  }
  storage->dwLowDateTime = time->LowDateTime;
  storage->dwHighDateTime = time->HighDateTime;
  return storage;
}

}  // namespace

FileHandle Win32Files::CreateFileA(const std::string& path, Dword access, Dword share, Dword disposition,
                                   Dword flagsAndAttributes) {
  return FromHandle(::CreateFileA(path.c_str(), access, share, nullptr, disposition, flagsAndAttributes, nullptr));
}

FileHandle Win32Files::CreateFileW(const std::u16string& path, Dword access, Dword share, Dword disposition,
                                   Dword flagsAndAttributes) {
  return FromHandle(::CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), access, share, nullptr, disposition,
                                  flagsAndAttributes, nullptr));
}

bool Win32Files::ReadFile(FileHandle file, void* buffer, Dword size, Dword* read) {
  DWORD count = 0;
  const BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &count, nullptr);
  *read = count;
  return ok != FALSE;
}

bool Win32Files::WriteFile(FileHandle file, const void* data, Dword size, Dword* written) {
  DWORD count = 0;
  const BOOL ok = ::WriteFile(ToHandle(file), data, size, &count, nullptr);
  *written = count;
  return ok != FALSE;
}

bool Win32Files::GetFileSizeEx(FileHandle file, std::uint64_t* size) {
  LARGE_INTEGER found{};
  if (!::GetFileSizeEx(ToHandle(file), &found)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(found.QuadPart);
  return true;
}

bool Win32Files::DeviceIoControl(FileHandle device, Dword code, const void* in, Dword inSize, void* out, Dword outSize,
                                 Dword* returned) {
  DWORD count = 0;
  const BOOL ok =
      ::DeviceIoControl(ToHandle(device), code, const_cast<void*>(in), inSize, out, outSize, &count, nullptr);
  if (returned != nullptr) {
    *returned = count;
  }
  return ok != FALSE;
}

bool Win32Files::SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                             const FileTime* lastWrite) {
  FILETIME c{};
  FILETIME a{};
  FILETIME w{};
  return ::SetFileTime(ToHandle(file), ToFileTime(creation, &c), ToFileTime(lastAccess, &a),
                       ToFileTime(lastWrite, &w)) != FALSE;
}

bool Win32Files::CloseHandle(FileHandle handle) { return ::CloseHandle(ToHandle(handle)) != FALSE; }

Dword Win32Files::GetLastError() { return ::GetLastError(); }

}  // namespace kestrune::sys::win32
