#include "install/Utils.h"

#include <cstdio>

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

std::string HexText(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

void Delay(std::uint32_t milliseconds) { sys::Use<sys::IProcessEnvironment>().Sleep(milliseconds); }

}  // namespace kestrune
