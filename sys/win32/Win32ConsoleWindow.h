// The trace console's window: AllocConsole and friends.
#pragma once

#include "sys/ConsoleWindow.h"

namespace kestrune::sys::win32 {

class Win32ConsoleWindow : public IConsoleWindow {
 public:
  bool AllocConsole() override;
  bool FreeConsole() override;
  FileHandle GetStdHandle(Dword which) override;
  bool CloseHandle(FileHandle handle) override;
  bool GetConsoleTextAttribute(FileHandle console, Word* attributes) override;
  bool SetConsoleTextAttribute(FileHandle console, Word attributes) override;
  bool WriteConsoleA(FileHandle console, const std::string& text) override;
  bool WriteConsoleW(FileHandle console, const std::u16string& text) override;
  Dword GetLastError() override;
  std::string FormatSystemMessage(Dword error) override;
};

}  // namespace kestrune::sys::win32
