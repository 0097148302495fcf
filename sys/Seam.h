// The seams between the program's logic and the world it runs in.
//
// Every operating-system service and the machine itself are reached through
// small interfaces. Each interface has one current implementation per
// process: the product installs the Win32 adapters (sys/win32), the simulated
// program installs the simulated board (sim), and tests install in-memory
// fakes for the length of a test with ScopedSeam.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace kestrune::sys {

template <class Interface>
class Seam {
 public:
  static Interface& Get() {
    if (current_ == nullptr) {
      std::fprintf(stderr, "kestrune: no implementation installed for %s\n", typeid(Interface).name());
      std::abort();
    }
    return *current_;
  }
  static bool Installed() { return current_ != nullptr; }
  // Installs impl and returns the implementation it replaces.
  static Interface* Exchange(Interface* impl) {
    Interface* previous = current_;
    current_ = impl;
    return previous;
  }

 private:
  static inline Interface* current_ = nullptr;
};

template <class Interface>
Interface& Use() {
  return Seam<Interface>::Get();
}

template <class Interface>
void Install(Interface& impl) {
  Seam<Interface>::Exchange(&impl);
}

// Installs an implementation for the lifetime of the object, then restores
// the one it replaced.
template <class Interface>
class ScopedSeam {
 public:
  explicit ScopedSeam(Interface& impl) : previous_(Seam<Interface>::Exchange(&impl)) {}
  ~ScopedSeam() { Seam<Interface>::Exchange(previous_); }
  ScopedSeam(const ScopedSeam&) = delete;
  ScopedSeam& operator=(const ScopedSeam&) = delete;

 private:
  Interface* previous_;
};

}  // namespace kestrune::sys
