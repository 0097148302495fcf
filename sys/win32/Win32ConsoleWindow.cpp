#include "sys/win32/Win32ConsoleWindow.h"

#include <windows.h>

namespace kestrune::sys::win32 {

namespace {

HANDLE ToHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool Win32ConsoleWindow::AllocConsole() { return ::AllocConsole() != FALSE; }

bool Win32ConsoleWindow::FreeConsole() { return ::FreeConsole() != FALSE; }

FileHandle Win32ConsoleWindow::GetStdHandle(Dword which) {
  const HANDLE handle = ::GetStdHandle(which);
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandleValue : reinterpret_cast<FileHandle>(handle);
}

bool Win32ConsoleWindow::CloseHandle(FileHandle handle) { return ::CloseHandle(ToHandle(handle)) != FALSE; }

bool Win32ConsoleWindow::GetConsoleTextAttribute(FileHandle console, Word* attributes) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(ToHandle(console), &info) == FALSE) {
    return false;
  }
  *attributes = info.wAttributes;
  return true;
}

bool Win32ConsoleWindow::SetConsoleTextAttribute(FileHandle console, Word attributes) {
  return ::SetConsoleTextAttribute(ToHandle(console), attributes) != FALSE;
}

bool Win32ConsoleWindow::WriteConsoleA(FileHandle console, const std::string& text) {
  DWORD written = 0;
  return ::WriteConsoleA(ToHandle(console), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

bool Win32ConsoleWindow::WriteConsoleW(FileHandle console, const std::u16string& text) {
  DWORD written = 0;
  return ::WriteConsoleW(ToHandle(console), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

Dword Win32ConsoleWindow::GetLastError() { return ::GetLastError(); }

std::string Win32ConsoleWindow::FormatSystemMessage(Dword error) {
  char* text = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string result;
  if (length > 0 && text != nullptr) {
    result.assign(text, length);
  }
  if (text != nullptr) {
    ::LocalFree(text);
  }
  return result;
}

}  // namespace kestrune::sys::win32
