// Named mutexes.
#pragma once

#include <windows.h>

#include "sys/Mutexes.h"

namespace kestrune::sys::win32 {

class Win32Mutexes : public IMutexes {
 public:
  MutexHandle CreateMutexW(bool initialOwner, const std::u16string& name) override {
    return reinterpret_cast<MutexHandle>(
        ::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
  }
  bool CloseHandle(MutexHandle handle) override { return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE; }
  Dword GetLastError() override { return ::GetLastError(); }
};

}  // namespace kestrune::sys::win32
