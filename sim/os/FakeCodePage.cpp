#include "sim/os/FakeCodePage.h"

#include <algorithm>

namespace kestrune::sim {

bool FakeCodePage::HasDoubleByteCharacters() const {
  return AnsiCodePage == 932 || AnsiCodePage == 936 || AnsiCodePage == 949 || AnsiCodePage == 950;
}

bool FakeCodePage::IsDBCSLeadByteEx(sys::Dword codePage, std::uint8_t byte) {
  switch (codePage == sys::kCpAcp ? AnsiCodePage : codePage) {
    case 932:
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
      return byte >= 0x81 && byte <= 0xFE;
    default:
      return false;
  }
}

std::string FakeCodePage::CharUpperA(const std::string& text) {
  std::string upper = text;
  const bool doubleByte = HasDoubleByteCharacters();
  for (std::size_t i = 0; i < upper.size(); ++i) {
    const auto byte = static_cast<unsigned char>(upper[i]);
    if (doubleByte && IsDBCSLeadByteEx(sys::kCpAcp, byte)) {
      ++i;  // the second byte is no letter of its own
      continue;
    }
    const bool lowerAscii = byte >= 'a' && byte <= 'z';
    const bool lowerLatin = !doubleByte && byte >= 0xE0 && byte <= 0xFE && byte != 0xF7;
    if (lowerAscii || lowerLatin) {
      upper[i] = static_cast<char>(byte - 0x20);
    }
  }
  return upper;
}

std::optional<std::u16string> FakeCodePage::MultiByteToWideChar(sys::Dword codePage, const std::string& text) {
  std::u16string wide;
  if (codePage != sys::kCpUtf8 && HasDoubleByteCharacters()) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (byte < 0x80) {
        wide.push_back(byte);
        continue;
      }
      const auto known = DoubleByte.find(text.substr(i, 2));
      if (!IsDBCSLeadByteEx(sys::kCpAcp, byte) || known == DoubleByte.end()) {
        return std::nullopt;
      }
      wide.push_back(known->second);
      ++i;
    }
    return wide;
  }
  if (codePage != sys::kCpUtf8) {
    for (char c : text) {
      wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return wide;
  }
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
      return std::nullopt;
    }
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return std::nullopt;
      }
      point = (point << 6) | (next & 0x3F);
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return wide;
}

std::string FakeCodePage::WideCharToMultiByte(sys::Dword, const std::u16string& text) {
  const bool doubleByte = HasDoubleByteCharacters();
  std::string narrow;
  for (char16_t unit : text) {
    const auto known = std::find_if(DoubleByte.begin(), DoubleByte.end(),
                                    [unit](const auto& character) { return character.second == unit; });
    if (doubleByte && known != DoubleByte.end()) {
      narrow += known->first;
    } else {
      narrow.push_back(static_cast<char>(unit < (doubleByte ? 0x80 : 0x100) ? unit : '?'));
    }
  }
  return narrow;
}

}  // namespace kestrune::sim
