// Code-page conversions and upper-casing through the system.
#pragma once

#include <windows.h>

#include "sys/CodePage.h"

namespace kestrune::sys::win32 {

class Win32CodePage : public ICodePage {
 public:
  std::string CharUpperA(const std::string& text) override {
    std::string upper = text;
    if (!upper.empty()) {
      ::CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    }
    return upper;
  }
  std::optional<std::u16string> MultiByteToWideChar(Dword codePage, const std::string& text) override {
    if (text.empty()) {
      return std::u16string();
    }
    const int length =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
      return std::nullopt;
    }
    std::u16string wide(static_cast<std::size_t>(length), u'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          reinterpret_cast<LPWSTR>(wide.data()), length);
    return wide;
  }
  std::string WideCharToMultiByte(Dword codePage, const std::u16string& text) override {
    if (text.empty()) {
      return {};
    }
    const auto* wide = reinterpret_cast<LPCWCH>(text.data());
    const int length =
        ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
      return {};
    }
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
    return narrow;
  }
  bool IsDBCSLeadByteEx(Dword codePage, std::uint8_t byte) override {
    return ::IsDBCSLeadByteEx(codePage, byte) != FALSE;
  }
};

}  // namespace kestrune::sys::win32
