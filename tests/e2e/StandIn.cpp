// Stands in for a program that the install run starts (the BIOS flash tool,
// Intel's setup program): records how it was started and exits with the
// code the scenario chose.
//
//   KESTRUNE_STANDIN_LOG   file that gets one line per start:
//                          <module path>|<command line>|<current directory>
//   KESTRUNE_STANDIN_EXIT  exit code (default 0)
//   KESTRUNE_STANDIN_SLEEP milliseconds to run for after the line is written
//                          (default 0), as a flash tool that takes a while
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sys/win32/Win32ProcessEnvironment.h"

int main() {
  kestrune::sys::win32::Win32ProcessEnvironment environment;
  const std::string line = environment.GetModuleFileNameA(260) + "|" + environment.GetCommandLineA() + "|" +
                           environment.GetCurrentDirectoryA(260) + "\n";
  if (const char* log = std::getenv("KESTRUNE_STANDIN_LOG")) {
    if (std::FILE* file = std::fopen(log, "ab")) {
      std::fputs(line.c_str(), file);
      std::fclose(file);
    }
  }
  if (const char* sleep = std::getenv("KESTRUNE_STANDIN_SLEEP")) {
    environment.Sleep(static_cast<kestrune::sys::Dword>(std::strtoul(sleep, nullptr, 10)));
  }
  const char* code = std::getenv("KESTRUNE_STANDIN_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}
