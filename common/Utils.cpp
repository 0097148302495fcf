#include "common/Utils.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "sys/CodePage.h"
#include "sys/FileVersion.h"
#include "sys/ProcessEnvironment.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

constexpr sys::Dword kMaxPath = 260;

// The 0-based position of the last character of text that `matches`,
// walking the text by characters of the ANSI code page.
template <class Matches>
std::size_t FindLastCharacterThat(const std::string& text, Matches matches) {
  sys::ICodePage& codePage = sys::Use<sys::ICodePage>();
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (codePage.IsDBCSLeadByteEx(sys::kCpAcp, static_cast<std::uint8_t>(text[i])) && i + 1 < text.size()) {
      ++i;
    } else if (matches(i)) {
      last = i;
    }
  }
  return last;
}

// 0-based position of the first case-insensitive occurrence, or npos.
std::size_t FindIgnoringCase(const std::string& text, const std::string& delimiter) {
  if (delimiter.empty()) {
    return std::string::npos;
  }
  return UpperCase(text).find(UpperCase(delimiter));
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool IsNameCharacter(char16_t c) { return c >= 0x20 && c != 0x7F && c != u'\\' && c != u'/' && c != u':'; }

// The system takes a name for a device when the part before its first "."
// is one, blanks before that "." left out.
bool IsDeviceName(const std::u16string& name) {
  std::u16string base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') {
    base.pop_back();
  }
  std::transform(base.begin(), base.end(), base.begin(), AsciiUpper);
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" || base == u"CONOUT$") {
    return true;
  }
  if (base.size() != 4 || !(base.starts_with(u"COM") || base.starts_with(u"LPT"))) {
    return false;
  }
  const char16_t digit = base[3];
  return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
}

}  // namespace

std::string GetExePath() { return sys::Use<sys::IProcessEnvironment>().GetModuleFileNameA(kMaxPath); }

std::string GetCurrentDir() {
  std::string dir = sys::Use<sys::IProcessEnvironment>().GetCurrentDirectoryA(kMaxPath);
  while (dir.size() > 3 && FindLastCharacter(dir, '\\') == dir.size() - 1) {
    dir.pop_back();
  }
  return dir;
}

std::string GetExeFileName() {
  const std::string path = GetExePath();
  const std::size_t slash = FindLastCharacter(path, '\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetExeBaseName() {
  const std::string name = GetExeFileName();
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string GetRunEntryName() {
  const std::string name = GetExeFileName();
  const std::size_t dot = name.find('.');
  return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

bool GetFileVersion(const std::string& path, std::uint32_t* versionMs, std::uint32_t* versionLs) {
  sys::Dword ms = 0;
  sys::Dword ls = 0;
  if (!sys::Use<sys::IFileVersion>().QueryFixedFileVersion(path, &ms, &ls)) {
    return false;
  }
  *versionMs = ms;
  *versionLs = ls;
  return true;
}

std::string GetFileVersionText(const std::string& path) {
  std::uint32_t ms = 0;
  std::uint32_t ls = 0;
  if (!GetFileVersion(path, &ms, &ls)) {
    return {};
  }
  std::string text = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16);
  if ((ls & 0xFFFF) != 0) {
    text += "." + std::to_string(ls & 0xFFFF);
  }
  return text;
}

std::string UpperCase(const std::string& text) { return sys::Use<sys::ICodePage>().CharUpperA(text); }

std::string TextBefore(const std::string& text, const std::string& delimiter, const std::string& fallback) {
  const std::size_t at = FindIgnoringCase(text, delimiter);
  return at == std::string::npos ? fallback : text.substr(0, at);
}

std::string TextAfter(const std::string& text, const std::string& delimiter, const std::string& fallback) {
  const std::size_t at = FindIgnoringCase(text, delimiter);
  return at == std::string::npos ? fallback : text.substr(at + delimiter.size());
}

std::string ReplaceFirst(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty() || text.find(from) == std::string::npos) {
    return text;
  }
  return TextBefore(text, from, {}) + to + TextAfter(text, from, {});
}

std::string ReplaceText(const std::string& text, const std::string& from, const std::string& to) {
  // Each productive pass consumes one occurrence that the text held; more
  // passes than the text has characters can only come from a replacement
  // that feeds itself.
  std::string current = text;
  for (std::size_t pass = 0; pass <= text.size(); ++pass) {
    std::string next = ReplaceFirst(current, from, to);
    if (next == current) {
      break;
    }
    current = std::move(next);
  }
  return current;
}

std::string TextAfterLast(const std::string& text, const std::string& delimiters, const std::string& fallback) {
  const std::string upperText = UpperCase(text);
  const std::string upperDelimiters = UpperCase(delimiters);
  const std::size_t at = FindLastCharacterThat(
      text, [&](std::size_t i) { return upperDelimiters.find(upperText[i]) != std::string::npos; });
  if (delimiters.empty() || at == std::string::npos) {
    return fallback;
  }
  const std::size_t from = at + delimiters.size();
  return from >= text.size() ? std::string() : text.substr(from);
}

std::size_t FindLastCharacter(const std::string& text, char c) {
  return FindLastCharacterThat(text, [&](std::size_t i) { return text[i] == c; });
}

bool IsSafeFileName(const std::u16string& name) {
  if (name.empty() || name.back() == u'.' || name.back() == u' ') {
    return false;
  }
  return std::all_of(name.begin(), name.end(), IsNameCharacter) && !IsDeviceName(name);
}

bool IsSafeFileName(const std::string& name) {
  const std::optional<std::u16string> wide = sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, name);
  return wide.has_value() && IsSafeFileName(*wide);
}

std::string HexText(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

void Delay(std::uint32_t milliseconds) { sys::Use<sys::IProcessEnvironment>().Sleep(milliseconds); }

}  // namespace kestrune
