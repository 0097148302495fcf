/* What the driver does in the caller's context under structured exception
 * handling. The caller's buffer is touched only here (the device control
 * request runs in the calling thread), after probing it as user memory: a
 * bad address fails the request instead of the system. And the check that
 * the caller's handle was opened for reading and writing, which a kernel
 * that does not implement it answers with an exception.
 *
 * This unit is compiled for the *-pc-windows-msvc targets: clang 14 emits
 * broken tables for a __try around a call on i686-w64-windows-gnu. It
 * includes no DDK header, so it declares the kernel exports it uses. */
#include "driver/CallerCopy.h"

__declspec(dllimport) void __stdcall ProbeForWrite(void* address, uintptr_t length, unsigned long alignment);
__declspec(dllimport) void __stdcall ProbeForRead(const void* address, uintptr_t length, unsigned long alignment);
__declspec(dllimport) long __stdcall IoValidateDeviceIoControlAccess(void* irp, unsigned long access);
void* __cdecl memcpy(void* to, const void* from, uintptr_t length);

#define EXCEPTION_EXECUTE_HANDLER 1
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
/* What Wine's kernel raises for a function it exports but does not
 * implement. */
#define EXCEPTION_UNIMPLEMENTED_STUB 0x80000100ul

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

int VelDrvCallerMayReadAndWrite(void* irp) {
  volatile int granted = 0;
  volatile unsigned long raised = 0;
  __try {
    granted = IoValidateDeviceIoControlAccess(irp, FILE_READ_ACCESS | FILE_WRITE_ACCESS) >= 0;
  } __except (raised = (unsigned long)_exception_code(), EXCEPTION_EXECUTE_HANDLER) {
    /* Windows implements the check and raises nothing. Wine's kernel
     * exports it as a stub that raises its own exception; there, and only
     * there, the device's DACL (SYSTEM and Administrators) is the guard.
     * The code is taken in the filter: Wine's handler does not pass it on
     * to the __except block. */
    granted = raised == EXCEPTION_UNIMPLEMENTED_STUB;
  }
  return granted;
}
