// The log a support engineer reads: every line of a run with its local
// time, appended to a file named on the command line or to one of its own
// in the user's temporary folder. A log that cannot be opened or written is
// skipped: it never stops a run.
#pragma once

#include <string>

#include "sys/Files.h"

namespace kestrune {

class RunLog {
 public:
  // Opens the file for appending; an empty path names
  // "%TEMP%\Kestrune_YYYYMMDD_HHMMSS.log" (local time). False when there is
  // no such folder or the file cannot be opened: the log is then skipped.
  bool Open(const std::string& path);
  bool IsOpen() const { return File.Valid(); }
  const std::string& GetPath() const { return Path; }

  // One line per line of the text, each after "YYYY-MM-DD HH:MM:SS.mmm ".
  // A write that fails closes the log.
  void Write(const std::string& text);

  // The default file name for the local time.
  static std::string DefaultFileName();

 private:
  bool WriteAll(const std::string& bytes);

  sys::UniqueFileHandle File;
  std::string Path;
};

}  // namespace kestrune
