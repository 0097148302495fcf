/* The caller's buffer is touched only here, in the caller's context (the
 * device control request runs in the calling thread), after probing it as
 * user memory, and under structured exception handling: a bad address
 * fails the request instead of the system.
 *
 * This unit is compiled for the *-pc-windows-msvc targets: clang 14 emits
 * broken tables for a __try around a call on i686-w64-windows-gnu. It
 * includes no DDK header, so it declares the three kernel exports it
 * uses. */
#include "driver/CallerCopy.h"

__declspec(dllimport) void __stdcall ProbeForWrite(void* address, uintptr_t length, unsigned long alignment);
__declspec(dllimport) void __stdcall ProbeForRead(const void* address, uintptr_t length, unsigned long alignment);
void* __cdecl memcpy(void* to, const void* from, uintptr_t length);

#define EXCEPTION_EXECUTE_HANDLER 1

int VelDrvCopyToUser(uint64_t callerAddress, const uint8_t* source, uint32_t length) {
  if (callerAddress > (uint64_t)UINTPTR_MAX) {
    return 0;
  }
  volatile int copied = 0;
  __try {
    ProbeForWrite((void*)(uintptr_t)callerAddress, length, 1);
    memcpy((void*)(uintptr_t)callerAddress, source, length);
    copied = 1;
  } __except (EXCEPTION_EXECUTE_HANDLER) {
    copied = 0;
  }
  return copied;
}

int VelDrvCopyFromUser(uint8_t* destination, uint64_t callerAddress, uint32_t length) {
  if (callerAddress > (uint64_t)UINTPTR_MAX) {
    return 0;
  }
  volatile int copied = 0;
  __try {
    ProbeForRead((const void*)(uintptr_t)callerAddress, length, 1);
    memcpy(destination, (const void*)(uintptr_t)callerAddress, length);
    copied = 1;
  } __except (EXCEPTION_EXECUTE_HANDLER) {
    copied = 0;
  }
  return copied;
}
