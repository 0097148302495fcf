// Conversions that depend on the system's ANSI code page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sys/WinTypes.h"

namespace kestrune::sys {

inline constexpr Dword kCpAcp = 0;
inline constexpr Dword kCpUtf8 = 65001;

class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // CharUpperA: the code page's upper-casing, not ASCII-only.
  virtual std::string CharUpperA(const std::string& text) = 0;
  // MultiByteToWideChar; none when the bytes are not valid in the code page.
  virtual std::optional<std::u16string> MultiByteToWideChar(Dword codePage, const std::string& text) = 0;
  // WideCharToMultiByte, with the code page's replacement for what it lacks.
  virtual std::string WideCharToMultiByte(Dword codePage, const std::u16string& text) = 0;
  // IsDBCSLeadByteEx: the byte begins a two-byte character of the code page
  // (932, 936, 949 and 950 have them), whose second byte may be any of the
  // ASCII values "\\" included.
  virtual bool IsDBCSLeadByteEx(Dword codePage, std::uint8_t byte) = 0;
};

}  // namespace kestrune::sys
