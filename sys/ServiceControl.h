// The Service Control Manager, as far as the driver loader needs it:
// create or open a kernel-driver service, start, stop and delete it.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

// SC_HANDLE; 0 is the null handle.
using ScHandle = std::uintptr_t;

inline constexpr Dword kScManagerAllAccess = 0xF003F;
inline constexpr Dword kServiceAllAccess = 0xF01FF;
inline constexpr Dword kServiceKernelDriver = 0x1;
inline constexpr Dword kServiceDemandStart = 0x3;
inline constexpr Dword kServiceErrorNormal = 0x1;
inline constexpr Dword kServiceControlStop = 0x1;

class IServiceControl {
 public:
  virtual ~IServiceControl() = default;
  // The local machine's default database; 0 on failure.
  virtual ScHandle OpenSCManagerA(Dword access) = 0;
  // No load-order group, tag, dependencies, account or password; 0 on failure.
  virtual ScHandle CreateServiceA(ScHandle manager, const std::string& name, const std::string& displayName,
                                  Dword access, Dword serviceType, Dword startType, Dword errorControl,
                                  const std::string& binaryPath) = 0;
  virtual ScHandle OpenServiceA(ScHandle manager, const std::string& name, Dword access) = 0;
  // Without arguments.
  virtual bool StartServiceA(ScHandle service) = 0;
  virtual bool ControlService(ScHandle service, Dword control) = 0;
  virtual bool DeleteService(ScHandle service) = 0;
  virtual bool CloseServiceHandle(ScHandle handle) = 0;
  virtual Dword GetLastError() = 0;
};

inline void CloseScHandle(ScHandle handle) { Use<IServiceControl>().CloseServiceHandle(handle); }

// A service or manager handle, closed when the object goes.
using UniqueScHandle = UniqueAny<ScHandle, ScHandle{0}, CloseScHandle>;

}  // namespace kestrune::sys
