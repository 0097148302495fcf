// Named mutexes: CreateMutexW and the CloseHandle of its handle. A mutex
// lives while a handle to it is open; the system closes a process's handles
// when the process ends, however it ends.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

using MutexHandle = std::intptr_t;
inline constexpr MutexHandle kNoMutexHandle = 0;

class IMutexes {
 public:
  virtual ~IMutexes() = default;
  // CreateMutexW with no security attributes (the handle is not inherited
  // by child processes). A name in "Global\\" is one for the whole machine,
  // in "Local\\" or without a prefix one for the caller's session. When the
  // name is taken, the handle opens the existing mutex, initialOwner is
  // ignored and GetLastError() answers ERROR_ALREADY_EXISTS; otherwise
  // ERROR_SUCCESS. 0 on failure, the reason in GetLastError().
  virtual MutexHandle CreateMutexW(bool initialOwner, const std::u16string& name) = 0;
  virtual bool CloseHandle(MutexHandle handle) = 0;
  virtual Dword GetLastError() = 0;
};

inline void CloseMutexHandle(MutexHandle handle) { Use<IMutexes>().CloseHandle(handle); }

// A mutex handle, closed when the object goes.
using UniqueMutexHandle = UniqueAny<MutexHandle, kNoMutexHandle, CloseMutexHandle>;

}  // namespace kestrune::sys
