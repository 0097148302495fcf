// In-memory fakes of the small operating-system services: console, message
// boxes, the process's own environment, version resources, directory
// listings and the code page (Windows-1252).
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/CodePage.h"
#include "sys/Console.h"
#include "sys/Dialogs.h"
#include "sys/DirectoryListing.h"
#include "sys/FileVersion.h"
#include "sys/ProcessEnvironment.h"

namespace kestrune::sim {

class FakeConsole : public sys::IConsole {
 public:
  explicit FakeConsole(EventLog* log = nullptr) : Log(log) {}
  void Write(std::string_view text) override;
  void Flush() override { ++Flushes; }
  std::string Output;
  int Flushes = 0;

 private:
  EventLog* Log;
};

// Records every box; answers questions from a script (Yes when it is empty).
class FakeDialogs : public sys::IDialogs {
 public:
  explicit FakeDialogs(EventLog* log = nullptr) : Log(log) {}
  int MessageBoxA(const std::string& text, const std::string& caption, sys::Dword type) override;
  struct Box {
    std::string Text;
    std::string Caption;
    sys::Dword Type;
  };
  std::vector<Box> Boxes;
  std::deque<int> Answers;

 private:
  EventLog* Log;
};

class FakeProcessEnvironment : public sys::IProcessEnvironment {
 public:
  std::string GetCommandLineA() override { return CommandLine; }
  std::string GetModuleFileNameA(sys::Dword capacity) override;
  std::string GetCurrentDirectoryA(sys::Dword capacity) override;
  void Sleep(sys::Dword milliseconds) override { Sleeps.push_back(milliseconds); }

  std::string CommandLine = "C:\\Tools\\Kestrune.exe";
  std::string ModulePath = "C:\\Tools\\Kestrune.exe";
  std::string CurrentDirectory = "C:\\Tools";
  std::vector<sys::Dword> Sleeps;
};

class FakeFileVersion : public sys::IFileVersion {
 public:
  bool QueryFixedFileVersion(const std::string& path, sys::Dword* versionMs, sys::Dword* versionLs) override;
  struct Version {
    sys::Dword Ms;
    sys::Dword Ls;
  };
  std::map<std::string, Version> Files;  // path -> version; others have none
};

class FakeDirectoryListing : public sys::IDirectoryListing {
 public:
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override;
  std::map<std::string, std::vector<std::string>> Folders;  // missing folders answer ENOENT (2)
};

// The ANSI code page is Windows-1252 unless AnsiCodePage names another.
// Windows-1252 for the bytes 0x80 to 0xFF is approximated by Latin-1, which
// agrees with it on the letters that upper-casing touches. In the code pages
// with two-byte characters (932, 936, 949, 950) the lead bytes are the real
// ones; the characters the fake can convert are those of DoubleByte, every
// other non-ASCII text fails to convert, and upper-casing touches ASCII
// letters only, never a character's second byte.
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
