#include "install/Childprocess.h"

#include "install/Utils.h"
#include "sys/Console.h"
#include "sys/Processes.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

constexpr const char* kProgressText = "Installing Optane Memory Driver";
constexpr int kProgressPositions = 15;
constexpr std::uint32_t kProgressDelay = 500;

void Print(const std::string& text) {
  sys::IConsole& console = sys::Use<sys::IConsole>();
  console.Write(text);
  // The line must show even when the output is a pipe to a calling installer.
  console.Flush();
}

}  // namespace

std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait) {
  return RunProgram(path, arguments, wait, {});
}

std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                        const std::function<void()>& onStarted) {
  sys::IProcesses& processes = sys::Use<sys::IProcesses>();
  std::string commandPath = path;
  std::string shortPath;
  if (processes.GetShortPathNameA(path, &shortPath) != 0) {
    commandPath = shortPath;
  }
  // Lines printed before the start come before the child's own output.
  sys::Use<sys::IConsole>().Flush();

  sys::ProcessInformation information;
  if (!processes.CreateProcessA(path, commandPath + " " + arguments, true, 0, &information)) {
    return -1;
  }
  const sys::UniqueProcessHandle process(information.Process);
  const sys::UniqueProcessHandle thread(information.Thread);
  if (onStarted) {
    onStarted();
  }
  if (!wait) {
    return 0;
  }
  sys::Dword exitCode = 0;
  if (processes.WaitForSingleObject(process.Get(), sys::kInfinite) != sys::kWaitObject0 ||
      !processes.GetExitCodeProcess(process.Get(), &exitCode)) {
    return -1;
  }
  return static_cast<std::int32_t>(exitCode);
}

void TInstallProgress::Step() {
  const std::string line = std::string(kProgressText) + std::string(static_cast<std::size_t>(Position), ' ') + "...";
  ++Position;
  Print(line + "\r");
  Delay(kProgressDelay);
  if (Position == kProgressPositions) {
    Position = 0;
    // Blanks out the dots of the longest line.
    Print(std::string(kProgressText) + "..." + std::string(31, ' ') + "\r");
  }
}

void ShowInstallProgress() {
  TInstallProgress progress;
  for (;;) {
    progress.Step();
  }
}

}  // namespace kestrune
