// The message box adapter.
#pragma once

#include "sys/Dialogs.h"

namespace kestrune::sys::win32 {

class Win32Dialogs : public IDialogs {
 public:
  int MessageBoxA(const std::string& text, const std::string& caption, Dword type) override;
};

}  // namespace kestrune::sys::win32
