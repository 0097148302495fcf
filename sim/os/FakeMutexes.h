// Named mutexes in memory. A FakeMutexNamespace is the machine's table of
// names; each FakeMutexes is one process on it, in a session, so that two
// "processes" of a test share what two processes on a machine share: a
// "Global\\" name across sessions, a "Local\\" (or unprefixed) name only
// within one session. A mutex lives while a handle to it is open; a process
// that goes (the object's destruction, or End) has its handles closed and
// its ownership released, as the system does for a process that dies.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "sim/os/EventLog.h"
#include "sys/Mutexes.h"

namespace kestrune::sim {

class FakeMutexes;

class FakeMutexNamespace {
 public:
  struct Mutex {
    int Handles = 0;
    const FakeMutexes* Owner = nullptr;  // the process that owns it, if any
  };
  // By the name the object manager keeps: "Global\\X", or "Session<n>\\X".
  std::map<std::u16string, Mutex> Mutexes;
};

class FakeMutexes : public sys::IMutexes {
 public:
  explicit FakeMutexes(FakeMutexNamespace& machine, sys::Dword session = 1, EventLog* log = nullptr)
      : Machine(machine), Session(session), Log(log) {}
  ~FakeMutexes() override { End(); }
  FakeMutexes(const FakeMutexes&) = delete;
  FakeMutexes& operator=(const FakeMutexes&) = delete;

  sys::MutexHandle CreateMutexW(bool initialOwner, const std::u16string& name) override;
  bool CloseHandle(sys::MutexHandle handle) override;
  sys::Dword GetLastError() override { return LastError; }

  // The process ends: every handle it holds is closed, its ownership goes.
  void End();
  // Whether this process owns the mutex of that name (as it would pass to
  // CreateMutexW).
  bool Owns(const std::u16string& name) const;
  std::size_t OpenHandles() const { return Handles.size(); }

  // The next CreateMutexW fails with this error (a system out of resources).
  std::optional<sys::Dword> FailNextCreate;

 private:
  FakeMutexNamespace& Machine;
  sys::Dword Session;
  EventLog* Log;
  sys::Dword LastError = 0;
  sys::MutexHandle NextHandle = 0x200;
  std::map<sys::MutexHandle, std::u16string> Handles;  // handle -> full name ("" unnamed)
  std::map<sys::MutexHandle, FakeMutexNamespace::Mutex> Unnamed;
};

}  // namespace kestrune::sim
