// The CPUID instruction, executed in user mode: part of the machine seam,
// so a simulated board can say which processor it has.
#pragma once

#include <cstdint>

namespace kestrune::sys {

// EAX, EBX, ECX, EDX; the leaf in EAX on input.
struct CpuidRegisters {
  std::uint32_t Eax = 0;
  std::uint32_t Ebx = 0;
  std::uint32_t Ecx = 0;
  std::uint32_t Edx = 0;
};

class ICpuid {
 public:
  virtual ~ICpuid() = default;
  // Loads EAX from registers.Eax (ECX is not set), executes CPUID and
  // stores the four result registers.
  virtual void Cpuid(CpuidRegisters& registers) = 0;
};

}  // namespace kestrune::sys
