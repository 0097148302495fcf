// How a program reaches the hardware access driver's request core when the
// simulated kernel shares its address space: DeviceIoControl's buffered
// transfer around the core, the I/O manager's record of the access a
// handle was opened with, and the kernel's side of the core: its lock, the
// registry's copy of the root table, and the copies to and from the
// caller's buffer (which the kernel driver makes with probing, here plain
// copies). The simulated board and the tests' memory images both answer
// the driver's device through these.
#pragma once

#include "driver/RequestCore.h"
#include "sys/WinTypes.h"

namespace kestrune::sim {

// Sets the machine's Lock, Unlock, RootTableCopy (the registry seam's copy
// of the root table, as Windows keeps it), CopyToCaller and CopyFromCaller.
// A copy while the lock is held fails, as the core must make none then.
void UseSimulatedKernel(VELDRV_MACHINE& machine);

// One DeviceIoControl on an open of the driver's device made with access
// (CreateFile's desired access), as the I/O manager delivers it
// (METHOD_BUFFERED): 0 with *returned set to the bytes copied back, or the
// Win32 error that the system reports for the core's status.
sys::Dword CallDriver(VELDRV_DEVICE& device, VELDRV_HANDLE& handle, sys::Dword access, sys::Dword code, const void* in,
                      sys::Dword inSize, void* out, sys::Dword outSize, sys::Dword* returned);

}  // namespace kestrune::sim
