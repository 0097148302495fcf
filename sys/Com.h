// COM library vocabulary shared by the COM-based seams (Task Scheduler,
// WMI, shell): the system's values for apartments, class contexts and
// security settings.
#pragma once

#include "sys/WinTypes.h"

namespace kestrune::sys {

inline constexpr Dword kCoInitApartmentThreaded = 0x2;
inline constexpr Dword kCoInitMultithreaded = 0x0;
inline constexpr Dword kClsctxInprocServer = 0x1;
inline constexpr Dword kClsctxLocalServer = 0x4;
inline constexpr Long kAuthnServicesDefault = -1;  // cAuthSvc: let COM choose
inline constexpr Dword kRpcCImpLevelImpersonate = 3;
inline constexpr Dword kEoacNone = 0;

}  // namespace kestrune::sys
