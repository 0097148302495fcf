#include "platform/Cpubase.h"

#include "hw/Readwrite.h"
#include "sys/Cpuid.h"

namespace kestrune {

namespace {

void AppendBytes(std::string& text, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) {
    text.push_back(static_cast<char>((word >> (8 * i)) & 0xFF));
  }
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; }

}  // namespace

std::int32_t VendorCodeOf(const std::string& vendorText) {
  static const char* const kVendors[] = {"GenuineIntel", "AuthenticAMD", "CyrixInstead",
                                         "UMC UMC UMC ", "CentaurHauls", "RiseRiseRise"};
  for (std::int32_t i = 0; i < 6; ++i) {
    if (vendorText == kVendors[i]) {
      return i + 1;
    }
  }
  return -1;
}

TCpuBase::TCpuBase() {
  sys::CpuidRegisters registers{0, 0, 0, 0};
  ReadWrite->Cpuid(registers);
  AppendBytes(VendorText, registers.Ebx);
  AppendBytes(VendorText, registers.Edx);
  AppendBytes(VendorText, registers.Ecx);
  VendorCode = VendorCodeOf(VendorText);

  // The highest extended leaf is not asked first.
  std::string brand;
  for (std::uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
    sys::CpuidRegisters brandRegisters{leaf, 0, 0, 0};
    ReadWrite->Cpuid(brandRegisters);
    AppendBytes(brand, brandRegisters.Eax);
    AppendBytes(brand, brandRegisters.Ebx);
    AppendBytes(brand, brandRegisters.Ecx);
    AppendBytes(brand, brandRegisters.Edx);
  }
  std::size_t first = 0;
  std::size_t last = brand.size();
  while (first < last && IsBlankOrControl(brand[first])) {
    ++first;
  }
  while (last > first && IsBlankOrControl(brand[last - 1])) {
    --last;
  }
  BrandText = brand.substr(first, last - first);

  registers = {1, 0, 0, 0};
  ReadWrite->Cpuid(registers);
  Signature = registers.Eax;
}

bool TCpuBase::IsKabyLake() {
  if (!IsIntel()) {
    return false;
  }
  sys::CpuidRegisters registers{1, 0, 0, 0};
  ReadWrite->Cpuid(registers);
  return (registers.Eax & 0xFFFFFFF0u) == kKabyLakeSignature;
}

}  // namespace kestrune
