// The program's start, in the order that keeps planted libraries out. The
// program runs with administrator rights from a folder that others may
// write to; Windows looks for a library that is not one of its known DLLs
// in the program's own folder first. So before anything else, before any
// adapter exists and before the run loads its first such library (the
// version library, for the banner), later loads are restricted to the
// system folder; then the adapters are installed and the run runs.
#pragma once

#include <cstdint>
#include <functional>

#include "sys/LibraryLoading.h"

namespace kestrune::app {

class ProductStart {
 public:
  ProductStart(sys::ILibraryLoading& libraries, std::function<void()> installAdapters)
      : Libraries(libraries), InstallAdapters(std::move(installAdapters)) {}

  // Restricts library loading, installs the adapters, then answers run()'s
  // exit code. A system that cannot restrict (Windows 7 without its loader
  // update) runs on: its loads by name from the system folder then fail
  // rather than search elsewhere, and the run's gates refuse such a system.
  std::int32_t Run(const std::function<std::int32_t()>& run) {
    Libraries.RestrictToSystemFolder();
    InstallAdapters();
    return run();
  }

 private:
  sys::ILibraryLoading& Libraries;
  std::function<void()> InstallAdapters;
};

}  // namespace kestrune::app
