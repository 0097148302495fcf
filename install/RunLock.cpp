#include "install/RunLock.h"

namespace kestrune {

bool RunLock::Acquire() {
  if (Mutex.Valid()) {
    return true;
  }
  sys::IMutexes& mutexes = sys::Use<sys::IMutexes>();
  sys::UniqueMutexHandle mutex(mutexes.CreateMutexW(true, kName));
  // Read at once: closing the handle would change it.
  const sys::Dword error = mutexes.GetLastError();
  if (!mutex.Valid() || error == static_cast<sys::Dword>(sys::kErrorAlreadyExists)) {
    return false;
  }
  Mutex = std::move(mutex);
  return true;
}

}  // namespace kestrune
