#include "install/Childprocess.h"

#include "common/Utils.h"
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

// Creates the child and tells onStarted; the child's process handle, not
// valid when it could not be created.
sys::UniqueProcessHandle StartChild(const std::string& path, const std::string& arguments,
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
    return {};
  }
  sys::UniqueProcessHandle process(information.Process);
  const sys::UniqueProcessHandle thread(information.Thread);
  if (onStarted) {
    onStarted();
  }
  return process;
}

std::int32_t ExitCodeOf(const sys::UniqueProcessHandle& process) {
  sys::Dword exitCode = 0;
  if (!sys::Use<sys::IProcesses>().GetExitCodeProcess(process.Get(), &exitCode)) {
    return -1;
  }
  return static_cast<std::int32_t>(exitCode);
}

}  // namespace

std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait) {
  return RunProgram(path, arguments, wait, {});
}

std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                        const std::function<void()>& onStarted) {
  const sys::UniqueProcessHandle process = StartChild(path, arguments, onStarted);
  if (!process.Valid()) {
    return -1;
  }
  if (!wait) {
    return 0;
  }
  if (sys::Use<sys::IProcesses>().WaitForSingleObject(process.Get(), sys::kInfinite) != sys::kWaitObject0) {
    return -1;
  }
  return ExitCodeOf(process);
}

std::int32_t RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                       const std::function<void()>& onStarted) {
  const sys::UniqueProcessHandle process = StartChild(path, arguments, onStarted);
  if (!process.Valid()) {
    return -1;
  }
  sys::Dword waited = sys::kWaitTimeout;
  const TInstallProgress::Pause whileRunning = [&process, &waited](std::uint32_t milliseconds) {
    waited = sys::Use<sys::IProcesses>().WaitForSingleObject(process.Get(), milliseconds);
    return waited == sys::kWaitTimeout;
  };
  TInstallProgress progress;
  while (progress.Step(whileRunning)) {
  }
  Print("\n");
  return waited == sys::kWaitObject0 ? ExitCodeOf(process) : -1;
}

bool TInstallProgress::Step(const Pause& pause) {
  const std::string line = std::string(kProgressText) + std::string(static_cast<std::size_t>(Position), ' ') + "...";
  ++Position;
  Print(line + "\r");
  if (pause) {
    if (!pause(kProgressDelay)) {
      return false;
    }
  } else {
    Delay(kProgressDelay);
  }
  if (Position == kProgressPositions) {
    Position = 0;
    // Blanks out the dots of the longest line.
    Print(std::string(kProgressText) + "..." + std::string(31, ' ') + "\r");
  }
  return true;
}

}  // namespace kestrune
