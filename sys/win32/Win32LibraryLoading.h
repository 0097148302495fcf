// The process's library search path.
#pragma once

#include <windows.h>

#include "sys/LibraryLoading.h"

namespace kestrune::sys::win32 {

class Win32LibraryLoading : public ILibraryLoading {
 public:
  bool RestrictToSystemFolder() override {
    // Looked up by name: Windows Vista and 7 without their loader update
    // lack it (such a system then keeps its search order, and the loads by
    // name with LOAD_LIBRARY_SEARCH_SYSTEM32 fail instead of searching).
    using SetDefault = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = kernel != nullptr ? reinterpret_cast<SetDefault>(reinterpret_cast<void*>(
                                                    ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                              : nullptr;
    const bool restricted = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    const bool currentFolderRemoved = ::SetDllDirectoryW(L"") != FALSE;
    return restricted && currentFolderRemoved;
  }
};

}  // namespace kestrune::sys::win32
