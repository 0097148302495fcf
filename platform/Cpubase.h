// Processor identification through CPUID: vendor, signature and brand. The
// install run's processor gate asks IsKabyLake() of a TCpuBase that lives for
// the question; being the run's first hardware object, it brings the
// hardware access layer up.
#pragma once

#include <cstdint>
#include <string>

#include "hw/Ioobject.h"

namespace kestrune {

// The vendor table: "GenuineIntel" 1, "AuthenticAMD" 2, "CyrixInstead" 3,
// "UMC UMC UMC " 4, "CentaurHauls" 5, "RiseRiseRise" 6, any other -1.
std::int32_t VendorCodeOf(const std::string& vendorText);

inline constexpr std::int32_t kVendorIntel = 1;
inline constexpr std::uint32_t kKabyLakeSignature = 0x000906E0;  // family 6, model 0x9E

class TCpuBase : public TIoObject {
 public:
  TCpuBase();
  ~TCpuBase() override = default;

  bool IsIntel() const { return VendorCode == kVendorIntel; }
  // An Intel processor whose leaf-1 EAX, read again now, is 0x906E0 in any
  // stepping.
  bool IsKabyLake();

  const std::string& GetVendorText() const { return VendorText; }
  std::int32_t GetVendorCode() const { return VendorCode; }
  const std::string& GetBrandText() const { return BrandText; }
  std::uint32_t GetSignature() const { return Signature; }

 private:
  std::string VendorText;
  std::int32_t VendorCode = -1;
  std::string BrandText;
  std::uint32_t Signature = 0;
};

}  // namespace kestrune
