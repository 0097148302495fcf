// Starting the programs that do the installation's real work, and the
// progress line shown while Intel's setup program runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrune {

// Starts the program file at path as a child process. Its command line is
// the path's short (8.3) form, when the system has one, a blank and the
// arguments unchanged; nothing is quoted. The child inherits the inheritable
// handles and the console. Standard output is flushed first.
// wait: the child's exit code once it has ended; otherwise 0 as soon as it is
// created. -1 when the program cannot be started.
std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait);
// The same, calling onStarted once the child has been created and before
// any wait; it is not called when the program cannot be started.
std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                        const std::function<void()>& onStarted);

// Starts the program like RunProgram without waiting, then shows the install
// progress line for as long as the child runs. Normally the restart that the
// child performs ends the process first; a child that ends on its own ends
// the line (with a line feed) and its exit code is the answer. -1 when the
// program cannot be started or waited for.
std::int32_t RunProgramShowingProgress(const std::string& path, const std::string& arguments,
                                       const std::function<void()>& onStarted);

// The install progress line: "Installing Optane Memory Driver" with the dots
// moving one column every 500 ms over 15 positions, written with a carriage
// return so each print overwrites the last.
class TInstallProgress {
 public:
  // Waits the given milliseconds; false when the line is to stop.
  using Pause = std::function<bool(std::uint32_t milliseconds)>;

  // One step of the line: one print, the pause (a plain delay unless given),
  // and after the 15th position the clearing print. False when the pause
  // stopped the line; the clearing print is then left out.
  bool Step(const Pause& pause = {});

 private:
  int Position = 0;
};

}  // namespace kestrune
