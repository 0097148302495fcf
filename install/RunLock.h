// One run at a time on the machine: a second start while a run is in
// progress (the logon task and a person's double-click, an installer that
// retries) must not flash, uninstall or install beside it. The lock is a
// named mutex in the global namespace, so that runs in different sessions
// see each other; it is held from Acquire until the object goes, and the
// system releases it when the process ends in any other way.
#pragma once

#include <string>

#include "sys/Mutexes.h"

namespace kestrune {

class RunLock {
 public:
  static constexpr const char16_t* kName = u"Global\\Velnor.Kestrune.Run";

  // True when no other run holds the lock: this object holds it from now
  // on. False when another run holds it, or when the lock cannot be made at
  // all (the run cannot then tell that it is alone).
  bool Acquire();
  bool Held() const { return Mutex.Valid(); }

 private:
  sys::UniqueMutexHandle Mutex;
};

}  // namespace kestrune
