// ACPI table discovery without the operating system's firmware-table
// interface: the root pointer from a scan of the BIOS area (or, failing
// that, near the tables that the registry's copy of the RSDT lists), then
// every table reachable from the RSDT, breadth first. The FADT, MADT, ECDT
// and MCFG leave their platform values in the settings record RwCfg, above
// all the SMI command port that the firmware-variable read needs.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hw/AcpiTables.h"
#include "hw/Ioobject.h"

namespace kestrune {

struct RwCfg;

class TAcpiBase : public TIoObject {
 public:
  // Runs the whole discovery.
  TAcpiBase();
  ~TAcpiBase() override;

  // The first listed table, from entry 0 on, whose header starts with the 4
  // characters of signature (exactly, case-sensitively); it becomes Current.
  // An entry whose header cannot be read is passed over.
  bool FindTable(const std::string& signature);

  RwCfg& Settings;  // of the process-wide TRwConfig
  std::array<std::uint8_t, acpi::kHeaderLength> DsdtHeader{};
  std::uint32_t DsdtAddress = 0;
  std::uint32_t PcieBaseAddress = 0;
  bool Found = false;
  // Entry 0 the root pointer, entry 1 the RSDT, then in discovery order.
  std::vector<std::unique_ptr<TableEntry>> Tables;
  TableEntry* Current = nullptr;  // the last FindTable match; not owned
};

// The process-wide instance; the first call runs the discovery.
TAcpiBase* AcpiBaseInstance();
// Destroys the process-wide instance, if any; the next AcpiBaseInstance()
// discovers again. The values left in RwCfg stay.
void ReleaseAcpiBaseInstance();

}  // namespace kestrune
