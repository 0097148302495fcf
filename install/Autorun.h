// The restart entry: what brings the program back after the machine
// restarts. On the supported systems it is a Task Scheduler task that
// starts the program with the highest privileges at every logon; on systems
// whose operating-system flags word is 32 or less (the 9x family, 32-bit
// 2000, XP and Server 2003, unrecognised systems) it is a value of the
// current user's autostart list.
#pragma once

#include <string>

namespace kestrune {

class TAutoRun {
 public:
  // Creates the entry, replacing one of the same name. The task starts the
  // protected copy of the program (ProtectedCopy): when no copy can be
  // placed, no task is created and the answer is false (a task of that name
  // is left as it was; the run removed it at its start). The autostart value
  // is named GetRunEntryName(), not `name`.
  bool Register(const std::string& name);
  // Removes the entry; true also when there was none.
  bool Unregister(const std::string& name);
};

// The process-wide TAutoRun, created by the first call, never destroyed.
TAutoRun& AutoRunInstance();

// Deletes the task `name` from the root task folder and, when path is not
// empty, registers a logon task that runs path with arguments. True when,
// with an empty path, the deletion was reached, or when the task was
// registered. The empty-path form leaves COM initialised on the calling
// thread, together with its security settings, for the rest of the process.
bool ScheduleLogonTask(const std::string& name, const std::string& path, const std::string& arguments,
                       const std::string& user);

}  // namespace kestrune
