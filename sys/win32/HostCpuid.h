// CPUID on the processor the program runs on.
#pragma once

#include "sys/Cpuid.h"

namespace kestrune::sys::win32 {

// The processor's own CPUID.
class HostCpuid : public ICpuid {
 public:
  void Cpuid(CpuidRegisters& registers) override;
};

}  // namespace kestrune::sys::win32
