// CPUID on the processor the program runs on.
#pragma once

#include <cpuid.h>

#include "sys/Cpuid.h"

namespace kestrune::sys::win32 {

class HostCpuid : public ICpuid {
 public:
  void Cpuid(CpuidRegisters& registers) override {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    __cpuid(registers.Eax, eax, ebx, ecx, edx);
    registers = {eax, ebx, ecx, edx};
  }
};

}  // namespace kestrune::sys::win32
