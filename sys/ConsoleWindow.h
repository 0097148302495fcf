// A console window of the process's own, for trace output: AllocConsole,
// GetStdHandle, character attributes, WriteConsole and the system's error
// texts. (IConsole is the process's standard output; this is the window a
// GUI-less trace facility opens for itself.)
#pragma once

#include <cstdint>
#include <string>

#include "sys/Files.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

using Word = std::uint16_t;

inline constexpr Dword kStdOutputHandle = static_cast<Dword>(-11);

class IConsoleWindow {
 public:
  virtual ~IConsoleWindow() = default;
  virtual bool AllocConsole() = 0;
  virtual bool FreeConsole() = 0;
  // kInvalidHandleValue on failure; 0 when the process has no such handle.
  virtual FileHandle GetStdHandle(Dword which) = 0;
  virtual bool CloseHandle(FileHandle handle) = 0;
  // GetConsoleScreenBufferInfo's wAttributes.
  virtual bool GetConsoleTextAttribute(FileHandle console, Word* attributes) = 0;
  virtual bool SetConsoleTextAttribute(FileHandle console, Word attributes) = 0;
  virtual bool WriteConsoleA(FileHandle console, const std::string& text) = 0;
  virtual bool WriteConsoleW(FileHandle console, const std::u16string& text) = 0;
  virtual Dword GetLastError() = 0;
  // FormatMessageA from the system message table with a system-allocated
  // buffer (freed again) and language 0x0400; empty when there is no text.
  virtual std::string FormatSystemMessage(Dword error) = 0;
};

}  // namespace kestrune::sys
