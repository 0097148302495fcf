// The COM library on the calling thread: CoInitializeEx, CoInitializeSecurity
// and CoUninitialize, the values they take, and ComApartment, the one way the
// program enters an apartment. The Task Scheduler, WMI and shell seams build
// on it.
//
// Windows keeps the apartment per thread, with a count: the first
// CoInitializeEx answers S_OK, a later one of the same kind S_FALSE (each owes
// a CoUninitialize), one of the other kind RPC_E_CHANGED_MODE (owes nothing).
// Security is set once per process; a later CoInitializeSecurity answers
// RPC_E_TOO_LATE.
#pragma once

#include "sys/Seam.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

inline constexpr Dword kCoInitApartmentThreaded = 0x2;
inline constexpr Dword kCoInitMultithreaded = 0x0;
inline constexpr Dword kClsctxInprocServer = 0x1;
inline constexpr Dword kClsctxLocalServer = 0x4;
inline constexpr Long kAuthnServicesDefault = -1;  // cAuthSvc: let COM choose
inline constexpr Dword kRpcCAuthnLevelDefault = 0;
inline constexpr Dword kRpcCAuthnLevelPktPrivacy = 6;
inline constexpr Dword kRpcCImpLevelImpersonate = 3;
inline constexpr Dword kEoacNone = 0;

class ICom {
 public:
  virtual ~ICom() = default;
  // CoInitializeEx with no reserved pointer.
  virtual HResult CoInitializeEx(Dword coInit) = 0;
  // CoInitializeSecurity with no security descriptor, no list of
  // authentication services, no authentication list and no reserved
  // pointers.
  virtual HResult CoInitializeSecurity(Long authServices, Dword authnLevel, Dword impLevel, Dword capabilities) = 0;
  virtual void CoUninitialize() = 0;
};

// One CoInitializeEx on the calling thread, undone when the object goes if
// it succeeded, unless the caller keeps COM initialised.
class ComApartment {
 public:
  explicit ComApartment(Dword coInit) : result_(Use<ICom>().CoInitializeEx(coInit)), owed_(Succeeded(result_)) {}
  ~ComApartment() {
    if (owed_) {
      Use<ICom>().CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  // CoInitializeEx's answer.
  HResult Result() const { return result_; }
  bool Entered() const { return Succeeded(result_); }
  // COM can be used: this object entered an apartment, or the thread
  // already lives in one of the other kind.
  bool Usable() const { return Entered() || result_ == kRpcEChangedMode; }
  // Leaves COM initialised on the thread for whatever comes later in the
  // process: no CoUninitialize.
  void Keep() { owed_ = false; }

 private:
  HResult result_;
  bool owed_;
};

}  // namespace kestrune::sys
