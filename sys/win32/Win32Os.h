// Thin adapters over the small Windows services the run uses.
#pragma once

#include "sys/CodePage.h"
#include "sys/Console.h"
#include "sys/Dialogs.h"
#include "sys/DirectoryListing.h"
#include "sys/FileVersion.h"
#include "sys/ProcessEnvironment.h"

namespace kestrune::sys::win32 {

class Win32Console : public IConsole {
 public:
  void Write(std::string_view text) override;
  void Flush() override;
};

class Win32Dialogs : public IDialogs {
 public:
  int MessageBoxA(const std::string& text, const std::string& caption, Dword type) override;
};

class Win32ProcessEnvironment : public IProcessEnvironment {
 public:
  std::string GetCommandLineA() override;
  std::string GetModuleFileNameA(Dword capacity) override;
  std::string GetCurrentDirectoryA(Dword capacity) override;
  void Sleep(Dword milliseconds) override;
};

class Win32FileVersion : public IFileVersion {
 public:
  bool QueryFixedFileVersion(const std::string& path, Dword* versionMs, Dword* versionLs) override;
};

// The C library's opendir and readdir.
class CrtDirectoryListing : public IDirectoryListing {
 public:
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override;
};

class Win32CodePage : public ICodePage {
 public:
  std::string CharUpperA(const std::string& text) override;
  std::optional<std::u16string> MultiByteToWideChar(Dword codePage, const std::string& text) override;
  std::string WideCharToMultiByte(Dword codePage, const std::u16string& text) override;
  bool IsDBCSLeadByteEx(Dword codePage, std::uint8_t byte) override;
};

}  // namespace kestrune::sys::win32
