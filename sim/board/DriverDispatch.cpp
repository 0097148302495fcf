#include "sim/board/DriverDispatch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "hw/AcpiDiscovery.h"
#include "sys/Errors.h"
#include "sys/Files.h"
#include "sys/Registry.h"
#include "sys/Seam.h"

namespace kestrune::sim {

namespace {

// The Win32 error DeviceIoControl reports for the driver's status, as the
// system translates it.
sys::Dword Win32ErrorOf(std::uint32_t status) {
  switch (status) {
    case VELDRV_STATUS_INVALID_PARAMETER:
      return sys::kErrorInvalidParameter;
    case VELDRV_STATUS_INVALID_DEVICE_REQUEST:
      return sys::kErrorInvalidFunction;
    case VELDRV_STATUS_ACCESS_DENIED:
      return sys::kErrorAccessDenied;
    case VELDRV_STATUS_QUOTA_EXCEEDED:
      return 1816;  // ERROR_NOT_ENOUGH_QUOTA
    case VELDRV_STATUS_INSUFFICIENT_RESOURCES:
      return 1450;  // ERROR_NO_SYSTEM_RESOURCES
    case VELDRV_STATUS_INVALID_USER_BUFFER:
      return 1784;  // ERROR_INVALID_USER_BUFFER
    case VELDRV_STATUS_IO_DEVICE_ERROR:
      return 1117;  // ERROR_IO_DEVICE
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

// The core's lock, held by this thread (the kernel's mutex may be taken
// again by its owner).
thread_local int lockDepth = 0;

// What IoValidateDeviceIoControlAccess answers for FILE_READ_ACCESS |
// FILE_WRITE_ACCESS: the generic rights map to the data rights on a device,
// and an administrator's MAXIMUM_ALLOWED gets both.
bool GrantsReadAndWrite(sys::Dword access) {
  constexpr sys::Dword kFileReadData = 0x1, kFileWriteData = 0x2, kGenericAll = 0x10000000,
                       kMaximumAllowed = 0x02000000;
  const sys::Dword both = kGenericAll | kMaximumAllowed;
  return (access & (sys::kGenericRead | kFileReadData | both)) != 0 &&
         (access & (sys::kGenericWrite | kFileWriteData | both)) != 0;
}

}  // namespace

void UseSimulatedKernel(VELDRV_MACHINE& machine) {
  machine.Lock = [](void*) { ++lockDepth; };
  machine.Unlock = [](void*) { --lockDepth; };
  // Windows' copy of the root table is in its registry: here the registry
  // seam, when one is installed.
  machine.RootTableCopy = [](void*, std::uint8_t* buffer, std::uint32_t capacity) -> std::uint32_t {
    std::vector<std::uint8_t> copy;
    if (!sys::Seam<sys::IRegistry>::Installed() || !acpi::ReadRegistryRootTableCopy(&copy)) {
      return 0;
    }
    std::copy_n(copy.begin(), std::min<std::size_t>(copy.size(), capacity), buffer);
    return static_cast<std::uint32_t>(copy.size());
  };
  machine.CopyToCaller = [](void*, std::uint64_t callerAddress, const std::uint8_t* source, std::uint32_t length) {
    if (lockDepth != 0 || callerAddress > UINTPTR_MAX) {
      return 0;
    }
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(callerAddress)), source, length);
    return 1;
  };
  machine.CopyFromCaller = [](void*, std::uint8_t* destination, std::uint64_t callerAddress, std::uint32_t length) {
    if (lockDepth != 0 || callerAddress > UINTPTR_MAX) {
      return 0;
    }
    std::memcpy(destination, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(callerAddress)), length);
    return 1;
  };
}

sys::Dword CallDriver(VELDRV_DEVICE& device, VELDRV_HANDLE& handle, sys::Dword access, sys::Dword code, const void* in,
                      sys::Dword inSize, void* out, sys::Dword outSize, sys::Dword* returned) {
  *returned = 0;
  if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) {
    return sys::kErrorNoAccess;
  }
  // The system copies the input into a buffer of the larger of both
  // lengths and copies back what the driver reports.
  std::vector<std::uint8_t> system(std::max(inSize, outSize), 0);
  if (inSize != 0) {
    std::memcpy(system.data(), in, inSize);
  }
  const VELDRV_REQUEST request{code,
                               system.empty() ? nullptr : system.data(),
                               inSize,
                               outSize,
                               sizeof(void*) == 4 ? 1 : 0,
                               GrantsReadAndWrite(access) ? 1 : 0};
  std::uint32_t information = 0;
  const std::uint32_t status = VelDrvDeviceControl(&device, &handle, &request, &information);
  if (status != VELDRV_STATUS_SUCCESS) {
    return Win32ErrorOf(status);
  }
  if (information != 0) {
    std::memcpy(out, system.data(), std::min<std::uint32_t>(information, outSize));
  }
  *returned = information;
  return 0;
}

}  // namespace kestrune::sim
