// The COM library as Windows keeps it: per thread (the program has one) the
// apartment and its count, per process whether security is set.
//
// The first CoInitializeEx enters an apartment (S_OK), a later one of the
// same kind counts (S_FALSE), one of the other kind answers
// RPC_E_CHANGED_MODE; each CoUninitialize undoes one count. Security can be
// set once, and only on an initialised thread (CO_E_NOTINITIALIZED before),
// and then answers RPC_E_TOO_LATE. A test makes a call answer otherwise by
// naming it in Answers; such a call changes nothing. Every call is told to
// the observers: the COM-based fakes record it among their own calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sys/Com.h"

namespace kestrune::sim {

class FakeCom : public sys::ICom {
 public:
  struct Call {
    std::string Name;  // "CoInitializeEx", "CoInitializeSecurity", "CoUninitialize"
    std::vector<std::int64_t> Arguments;
    sys::HResult Result = sys::kSOk;
  };

  sys::HResult CoInitializeEx(sys::Dword coInit) override;
  sys::HResult CoInitializeSecurity(sys::Long authServices, sys::Dword authnLevel, sys::Dword impLevel,
                                    sys::Dword capabilities) override;
  void CoUninitialize() override;

  // A new process: no apartment, no security, no scripted answers; the
  // observers stay.
  void Restart() {
    Apartments = 0;
    SecuritySet = false;
    Answers.clear();
  }

  int Apartments = 0;            // initialisations not yet undone
  sys::Dword ApartmentKind = 0;  // while Apartments > 0
  bool SecuritySet = false;
  std::map<std::string, sys::HResult> Answers;  // call name -> its answer
  // Each observer is told of every call once it is answered; a fake that
  // observes forgets itself when it goes.
  void Observe(const void* observer, std::function<void(const Call&)> told) { Observers[observer] = std::move(told); }
  void Forget(const void* observer) { Observers.erase(observer); }

 private:
  sys::HResult Told(Call call);
  std::map<const void*, std::function<void(const Call&)>> Observers;
};

}  // namespace kestrune::sim
