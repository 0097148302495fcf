// Message boxes.
#pragma once

#include <string>

#include "sys/WinTypes.h"

namespace kestrune::sys {

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // Shows a modal box without an owner window; answers the button pressed
  // (kIdOk, kIdYes, kIdNo, ...) or 0 when no box could be shown.
  virtual int MessageBoxA(const std::string& text, const std::string& caption, Dword type) = 0;
};

}  // namespace kestrune::sys
