// The ANSI code page is Windows-1252 unless AnsiCodePage names another.
// Windows-1252 for the bytes 0x80 to 0xFF is approximated by Latin-1, which
// agrees with it on the letters that upper-casing touches. In the code pages
// with two-byte characters (932, 936, 949, 950) the lead bytes are the real
// ones; the characters the fake can convert are those of DoubleByte, every
// other non-ASCII text fails to convert, and upper-casing touches ASCII
// letters only, never a character's second byte.
#pragma once

#include <map>
#include <string>

#include "sys/CodePage.h"

namespace kestrune::sim {

class FakeCodePage : public sys::ICodePage {
 public:
  std::string CharUpperA(const std::string& text) override;
  std::optional<std::u16string> MultiByteToWideChar(sys::Dword codePage, const std::string& text) override;
  // Knows the ANSI code page only.
  std::string WideCharToMultiByte(sys::Dword codePage, const std::u16string& text) override;
  bool IsDBCSLeadByteEx(sys::Dword codePage, std::uint8_t byte) override;

  sys::Dword AnsiCodePage = 1252;
  std::map<std::string, char16_t> DoubleByte{{"\x83\x5C", u'\u30BD'}};  // 932: KATAKANA LETTER SO

 private:
  bool HasDoubleByteCharacters() const;
};

}  // namespace kestrune::sim
