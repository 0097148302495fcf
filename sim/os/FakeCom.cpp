#include "sim/os/FakeCom.h"

namespace kestrune::sim {

sys::HResult FakeCom::Told(Call call) {
  for (const auto& [observer, told] : Observers) {
    told(call);
  }
  return call.Result;
}

sys::HResult FakeCom::CoInitializeEx(sys::Dword coInit) {
  Call call{"CoInitializeEx", {coInit}};
  if (const auto answer = Answers.find(call.Name); answer != Answers.end()) {
    call.Result = answer->second;
  } else if (Apartments == 0) {
    ApartmentKind = coInit;
    Apartments = 1;
  } else if (ApartmentKind == coInit) {
    ++Apartments;
    call.Result = sys::kSFalse;
  } else {
    call.Result = sys::kRpcEChangedMode;
  }
  return Told(std::move(call));
}

sys::HResult FakeCom::CoInitializeSecurity(sys::Long authServices, sys::Dword authnLevel, sys::Dword impLevel,
                                           sys::Dword capabilities) {
  Call call{"CoInitializeSecurity", {authServices, authnLevel, impLevel, capabilities}};
  if (const auto answer = Answers.find(call.Name); answer != Answers.end()) {
    call.Result = answer->second;
  } else if (Apartments == 0) {
    call.Result = sys::kCoENotInitialized;
  } else if (SecuritySet) {
    call.Result = sys::kRpcETooLate;
  } else {
    SecuritySet = true;
  }
  return Told(std::move(call));
}

void FakeCom::CoUninitialize() {
  if (Apartments > 0) {
    --Apartments;
  }
  Told({"CoUninitialize", {}});
}

}  // namespace kestrune::sim
