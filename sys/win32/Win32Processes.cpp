#include "sys/win32/Win32Processes.h"

#include <windows.h>

#include <vector>

namespace kestrune::sys::win32 {

namespace {

HANDLE ToHandle(ProcessHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

Dword Win32Processes::GetShortPathNameA(const std::string& longPath, std::string* shortPath) {
  // The first answer is the size the short path needs; a path that changes
  // between the two calls can need more, hence the loop.
  std::vector<char> buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetShortPathNameA(longPath.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return 0;
    }
    if (length < buffer.size()) {
      shortPath->assign(buffer.data(), length);
      return length;
    }
    buffer.assign(length, '\0');
  }
}

bool Win32Processes::CreateProcessA(const std::string& applicationName, const std::string& commandLine,
                                    bool inheritHandles, Dword creationFlags, ProcessInformation* information) {
  // CreateProcessA may write into the command line.
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(applicationName.c_str(), command.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                        creationFlags, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  information->Process = reinterpret_cast<ProcessHandle>(process.hProcess);
  information->Thread = reinterpret_cast<ProcessHandle>(process.hThread);
  information->ProcessId = process.dwProcessId;
  information->ThreadId = process.dwThreadId;
  return true;
}

Dword Win32Processes::WaitForSingleObject(ProcessHandle handle, Dword milliseconds) {
  return ::WaitForSingleObject(ToHandle(handle), milliseconds);
}

bool Win32Processes::GetExitCodeProcess(ProcessHandle process, Dword* exitCode) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(ToHandle(process), &code)) {
    return false;
  }
  *exitCode = code;
  return true;
}

bool Win32Processes::CloseHandle(ProcessHandle handle) { return ::CloseHandle(ToHandle(handle)) != FALSE; }

Dword Win32Processes::GetLastError() { return ::GetLastError(); }

}  // namespace kestrune::sys::win32
