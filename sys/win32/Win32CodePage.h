// Code-page conversions and upper-casing through the system.
#pragma once

#include "sys/CodePage.h"

namespace kestrune::sys::win32 {

class Win32CodePage : public ICodePage {
 public:
  std::string CharUpperA(const std::string& text) override;
  std::optional<std::u16string> MultiByteToWideChar(Dword codePage, const std::string& text) override;
  std::string WideCharToMultiByte(Dword codePage, const std::u16string& text) override;
  bool IsDBCSLeadByteEx(Dword codePage, std::uint8_t byte) override;
};

}  // namespace kestrune::sys::win32
