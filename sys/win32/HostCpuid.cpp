#include "sys/win32/HostCpuid.h"

#include <cpuid.h>

namespace kestrune::sys::win32 {

void HostCpuid::Cpuid(CpuidRegisters& registers) {
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  __cpuid(registers.Eax, eax, ebx, ecx, edx);
  registers = {eax, ebx, ecx, edx};
}

}  // namespace kestrune::sys::win32
