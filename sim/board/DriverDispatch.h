// How a program reaches the hardware access driver's request core when the
// simulated kernel shares its address space: DeviceIoControl's buffered
// transfer around the core, and the copies to and from the caller's buffer
// that the kernel driver makes with probing, here plain copies. The
// simulated board and the tests' memory images both answer the driver's
// device through these.
#pragma once

#include "driver/RequestCore.h"
#include "sys/WinTypes.h"

namespace kestrune::sim {

// Sets the machine's CopyToCaller and CopyFromCaller.
void UseCallerAddressSpace(VELDRV_MACHINE& machine);

// One DeviceIoControl on an open of the driver's device, as the I/O manager
// delivers it (METHOD_BUFFERED): 0 with *returned set to the bytes copied
// back, or the Win32 error that the system reports for the core's status.
sys::Dword CallDriver(VELDRV_DEVICE& device, VELDRV_HANDLE& handle, sys::Dword code, const void* in, sys::Dword inSize,
                      void* out, sys::Dword outSize, sys::Dword* returned);

}  // namespace kestrune::sim
