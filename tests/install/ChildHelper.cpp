// A child program for the child-process tests under Windows.
//   exit N      writes its raw command line to "commandline.txt" beside itself
//               and exits with N
//   print TEXT  writes TEXT and a line end to standard output
//   parent      sends standard output to "output.txt" beside itself, prints
//               "parent" without flushing and runs itself with "print child"
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/Utils.h"
#include "install/Childprocess.h"
#include "sys/Seam.h"
#include "sys/win32/Win32Console.h"
#include "sys/win32/Win32ProcessEnvironment.h"
#include "sys/win32/Win32Processes.h"

namespace {

std::string BesideMe(const std::string& name) {
  const std::string path = kestrune::GetExePath();
  return path.substr(0, path.rfind('\\') + 1) + name;
}

}  // namespace

int main(int argc, char** argv) {
  kestrune::sys::win32::Win32ProcessEnvironment environment;
  kestrune::sys::win32::Win32Console console;
  kestrune::sys::win32::Win32Processes processes;
  kestrune::sys::Install<kestrune::sys::IProcessEnvironment>(environment);
  kestrune::sys::Install<kestrune::sys::IConsole>(console);
  kestrune::sys::Install<kestrune::sys::IProcesses>(processes);

  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "exit" && argc > 2) {
    // Written under another name first, so a reader never sees half of it.
    const std::string done = BesideMe("commandline.txt");
    const std::string partial = done + ".partial";
    {
      std::ofstream out(partial, std::ios::binary);
      out << environment.GetCommandLineA();
    }
    std::rename(partial.c_str(), done.c_str());
    return std::atoi(argv[2]);
  }
  if (mode == "print" && argc > 2) {
    std::printf("%s\n", argv[2]);
    return 0;
  }
  if (mode == "parent") {
    if (std::freopen(BesideMe("output.txt").c_str(), "w", stdout) == nullptr) {
      return 10;
    }
    console.Write("parent\n");
    return kestrune::RunProgram(kestrune::GetExePath(), "print child", true) == 0 ? 0 : 11;
  }
  return 20;
}
