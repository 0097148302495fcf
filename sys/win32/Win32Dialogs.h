// The message box adapter.
#pragma once

#include <windows.h>

#include "sys/Dialogs.h"

namespace kestrune::sys::win32 {

class Win32Dialogs : public IDialogs {
 public:
  int MessageBoxA(const std::string& text, const std::string& caption, Dword type) override {
    return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
  }
};

}  // namespace kestrune::sys::win32
