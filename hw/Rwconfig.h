// The hardware layer's settings: where ACPI discovery leaves the platform
// values it decodes and where the firmware-variable read finds the SMI
// command port. Nothing loads or stores them; they start from defaults.
#pragma once

#include <cstdint>

namespace kestrune {

// A field without a default starts at 0, which means "not known yet"; an
// SmiCommandPort of 0 must be treated as unknown.
struct RwCfg {
  std::uint16_t EcCommandPort = 0x66;
  std::uint16_t EcDataPort = 0x62;
  std::uint8_t EcAddressSpace = 1;  // system I/O
  std::uint32_t IoApicAddress = 0xFEC00000u;
  std::uint32_t LocalApicAddress = 0;
  std::uint16_t PmBase = 0x800;
  std::uint32_t SciInterrupt = 9;
  std::uint16_t PmTimerPort = 0;
  std::uint16_t PmTimerExtended = 0;
  std::uint16_t SmiCommandPort = 0;
  std::uint8_t AcpiEnableValue = 0;
  std::uint8_t AcpiDisableValue = 0;
  std::uint8_t S4BiosRequestValue = 0;
  std::uint8_t PstateControlValue = 0;
};

class TRwConfig {
 public:
  TRwConfig() = default;
  virtual ~TRwConfig() = default;
  TRwConfig(const TRwConfig&) = delete;
  TRwConfig& operator=(const TRwConfig&) = delete;

  RwCfg& GetRwCfg() { return Cfg; }
  const RwCfg& GetRwCfg() const { return Cfg; }

 private:
  RwCfg Cfg;
};

// The process-wide instance, created with the defaults on first call.
TRwConfig* RwConfigInstance();
// Destroys the process-wide instance, if any; the next RwConfigInstance()
// starts again from the defaults.
void ReleaseRwConfigInstance();

}  // namespace kestrune
