// The library search path: records the restriction in the shared log, so a
// test can tell what happened before it.
#pragma once

#include "sim/os/EventLog.h"
#include "sys/LibraryLoading.h"

namespace kestrune::sim {

class FakeLibraryLoading : public sys::ILibraryLoading {
 public:
  explicit FakeLibraryLoading(EventLog* log = nullptr) : Log(log) {}

  bool RestrictToSystemFolder() override {
    Restricted = true;
    if (Log != nullptr) {
      Log->Add("restrict library loading to the system folder");
    }
    return true;
  }

  bool Restricted = false;

 private:
  EventLog* Log;
};

}  // namespace kestrune::sim
