#include "hw/Acpibase.h"

#include <cstring>

#include "hw/AcpiDiscovery.h"
#include "hw/ConsoleTrace.h"
#include "hw/Readwrite.h"
#include "hw/Rwconfig.h"

namespace kestrune {

namespace {

TAcpiBase* instance = nullptr;

template <class T>
void Apply(const std::optional<T>& value, auto& field) {
  if (value) {
    field = *value;
  }
}

void ApplyValues(const acpi::PlatformValues& v, RwCfg& cfg) {
  Apply(v.EcCommandPort, cfg.EcCommandPort);
  Apply(v.EcDataPort, cfg.EcDataPort);
  Apply(v.EcAddressSpace, cfg.EcAddressSpace);
  Apply(v.IoApicAddress, cfg.IoApicAddress);
  Apply(v.LocalApicAddress, cfg.LocalApicAddress);
  Apply(v.PmBase, cfg.PmBase);
  Apply(v.SciInterrupt, cfg.SciInterrupt);
  Apply(v.PmTimerPort, cfg.PmTimerPort);
  Apply(v.PmTimerExtended, cfg.PmTimerExtended);
  Apply(v.SmiCommandPort, cfg.SmiCommandPort);
  Apply(v.AcpiEnableValue, cfg.AcpiEnableValue);
  Apply(v.AcpiDisableValue, cfg.AcpiDisableValue);
  Apply(v.S4BiosRequestValue, cfg.S4BiosRequestValue);
  Apply(v.PstateControlValue, cfg.PstateControlValue);
}

}  // namespace

TAcpiBase::TAcpiBase() : Settings(ReadWrite->GetConfig().GetRwCfg()) {
  Found = acpi::ScanMemoryForRootPointer(*ReadWrite, Tables);
  if (!Found) {
    Found = acpi::FindRootPointerThroughRegistry(*ReadWrite, Tables);
  }
  if (Found) {
    acpi::Findings findings;
    ConsoleTrace trace(Console);
    acpi::BuildTableList(*ReadWrite, Tables, findings, trace);
    ApplyValues(findings.Values, Settings);
    DsdtHeader = findings.DsdtHeader;
    DsdtAddress = findings.DsdtAddress;
    PcieBaseAddress = findings.PcieBaseAddress;
  }
}

TAcpiBase::~TAcpiBase() = default;

bool TAcpiBase::FindTable(const std::string& signature) {
  for (const std::unique_ptr<TableEntry>& entry : Tables) {
    std::uint8_t header[acpi::kHeaderLength];
    if (!ReadWrite->ReadPhysicalMemory(header, sizeof header, entry->Address)) {
      continue;
    }
    if (signature.size() == 4 && std::memcmp(header, signature.data(), 4) == 0) {
      Current = entry.get();
      return true;
    }
  }
  return false;
}

TAcpiBase* AcpiBaseInstance() {
  if (instance == nullptr) {
    instance = new TAcpiBase();
  }
  return instance;
}

void ReleaseAcpiBaseInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
