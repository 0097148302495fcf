// A library of the system folder, loaded at run time, and its functions.
// The program imports only libraries that Windows keeps among its known
// DLLs (always taken from the system folder); any other is loaded here, by
// name, with LOAD_LIBRARY_SEARCH_SYSTEM32, so that a file of that name in
// the program's folder or the current folder is never the one loaded. The
// library stays loaded while its owner lives.
#pragma once

#include <windows.h>

#include "sys/UniqueAny.h"

namespace kestrune::sys::win32 {

class SystemLibrary {
 public:
  // name: a bare file name such as L"version.dll".
  explicit SystemLibrary(const wchar_t* name) : Module(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}

  bool Loaded() const { return Module.Valid(); }

  // The function of that name as the pointer type F; null when the library
  // is not loaded or lacks it.
  template <class F>
  F Function(const char* name) const {
    if (!Module.Valid()) {
      return nullptr;
    }
    // A function pointer of one type to another: the caller names the type.
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(Module.Get(), name)));
  }

 private:
  static void Free(HMODULE module) { ::FreeLibrary(module); }
  UniqueAny<HMODULE, nullptr, Free> Module;
};

}  // namespace kestrune::sys::win32
