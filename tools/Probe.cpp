#include "tools/Probe.h"

#include <array>
#include <cstdio>
#include <vector>

#include "hw/Aaft.h"
#include "hw/Acpibase.h"
#include "hw/Readwrite.h"
#include "hw/Rwconfig.h"
#include "hw/Variable.h"
#include "install/RunDecisions.h"
#include "platform/Bootmode.h"
#include "platform/Cpubase.h"
#include "platform/Smbiosbase.h"
#include "platform/Vel.h"
#include "sys/CodePage.h"
#include "sys/Seam.h"
#include "tools/DriverRequestCounter.h"

namespace kestrune::tools {

namespace {

class Lines {
 public:
  void Add(const std::string& key, const std::string& value) { text_ += key + "=" + value + "\n"; }
  void Hex(const std::string& key, const char* format, std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    Add(key, buffer);
  }
  void Flag(const std::string& key, bool value) { Add(key, value ? "1" : "0"); }
  std::string Text() const { return text_; }

 private:
  std::string text_;
};

// The platform configuration variable, as the install run asks for it.
constexpr const char16_t* kPlatformConfigName = u"VelnorPlatformConfig";
constexpr EfiGuid kPlatformConfigGuid = {0x43, 0xD6, 0x87, 0xEC, 0xA4, 0xEB, 0xB5, 0x4B,
                                         0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9};

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    text += (i == 0 ? "" : separator) + parts[i];
  }
  return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

// The first four bytes at an address, unprintable ones as ".".
std::string SignatureAt(std::uint32_t address) {
  char bytes[4];
  if (!ReadWriteInstance()->ReadPhysicalMemory(bytes, sizeof bytes, address)) {
    return "????";
  }
  std::string text;
  for (char c : bytes) {
    text.push_back(c >= 0x20 && c < 0x7F ? c : '.');
  }
  return text;
}

void ProbeBoard(Lines& out, std::string& biosVersion) {
  const TVel vel;
  out.Flag("board.detected", vel.Detected);
  out.Flag("board.block_found", vel.BlockFound);
  out.Add("board.model", vel.ModelName);
  out.Add("board.raw_model", vel.RawModelName);
  out.Add("board.bios_version", vel.BiosVersion);
  out.Add("board.bios_date", vel.BiosDate);
  biosVersion = vel.BiosVersion;
  const TSmbiosBase* smbios = SmbiosInstance();
  out.Flag("smbios.loaded", smbios->Loaded);
  out.Add("smbios.baseboard",
          sys::Use<sys::ICodePage>().WideCharToMultiByte(sys::kCpAcp, smbios->GetBaseboardProduct()));
  const std::int32_t systemDisk = GetSystemDiskNumber();
  out.Add("boot.system_disk", std::to_string(systemDisk));
  out.Flag("boot.gpt", IsGptDisk(systemDisk));
}

void ProbeAcpi(Lines& out) {
  const TAcpiBase* acpi = AcpiBaseInstance();
  out.Flag("acpi.found", acpi->Found);
  std::vector<std::string> signatures;
  for (const auto& entry : acpi->Tables) {
    signatures.push_back(SignatureAt(entry->Address));
  }
  out.Add("acpi.tables", Join(signatures, "|"));
  const RwCfg& cfg = ReadWriteInstance()->GetConfig().GetRwCfg();
  out.Hex("acpi.smi_port", "0x%X", cfg.SmiCommandPort);
  out.Hex("acpi.pm_base", "0x%X", cfg.PmBase);
  out.Hex("acpi.sci", "0x%X", cfg.SciInterrupt);
  out.Hex("acpi.local_apic", "0x%X", cfg.LocalApicAddress);
  out.Hex("acpi.io_apic", "0x%X", cfg.IoApicAddress);
  out.Hex("acpi.pcie_base", "0x%X", acpi->PcieBaseAddress);
  out.Hex("acpi.dsdt", "0x%X", acpi->DsdtAddress);
}

// The SATA-mode read as the install run makes it: 4 bytes; when that
// fails, once more with the size the failed read left (the buffer grown to
// it up to 8192 bytes).
void ProbeVariable(Lines& out) {
  TVariable variable;
  std::vector<std::uint8_t> data(4, 0);
  std::uint64_t size = data.size();
  std::uint32_t attributes = 0;
  const bool read =
      variable.GetVariable(kPlatformConfigName, kPlatformConfigGuid, nullptr, data.data(), &size, &attributes);
  out.Flag("var.read", read);
  out.Add("var.size", std::to_string(size));
  out.Add("var.data", read ? HexBytes(data.data(), static_cast<std::size_t>(std::min<std::uint64_t>(size, 4))) : "");
  if (!read) {
    if (size > data.size() && size <= kMaxVariableDataSize) {
      data.resize(static_cast<std::size_t>(size), 0);
    } else if (size > data.size()) {
      size = data.size();
    }
    variable.GetVariable(kPlatformConfigName, kPlatformConfigGuid, nullptr, data.data(), &size, &attributes);
  }
  out.Add("sata.mode", std::to_string(data[0]));
}

void ProbeAaft(Lines& out, const std::string& biosVersion) {
  const TAAFT* aaft = AaftInstance();
  std::vector<ModuleVersion> modules;
  std::vector<std::string> pairs;
  for (const _VELNOR_MODULE_VERSION_ENTRY* entry : aaft->ModuleVersions) {
    modules.push_back({ModuleName(*entry), entry->Version});
    pairs.push_back(modules.back().Name + ":" + std::to_string(modules.back().Version));
  }
  out.Add("aaft.modules", Join(pairs, ","));
  out.Add("aaft.func7", std::to_string(aaft->Func7Value));
  out.Add("aaft.func9", std::to_string(aaft->Func9Value));
  std::vector<std::string> keys;
  for (const auto& [key, entry] : aaft->SetupConfigs) {
    keys.push_back(key);
  }
  out.Add("aaft.setup_configs", Join(keys, ","));
  keys.clear();
  for (const auto& [key, entry] : aaft->FanTables) {
    keys.push_back(std::to_string(key));
  }
  out.Add("aaft.fan_tables", Join(keys, ","));
  std::vector<std::string> items;
  for (const _VEL_DecodeEZOCTBL& item : aaft->EzocItems) {
    items.push_back(ItemText(item) + "[" + Join(item.Options, ",") + "]");
  }
  out.Add("aaft.ezoc", Join(items, ";"));
  ReleaseAaftInstance();
  ReleaseAcpiBaseInstance();
  out.Flag("optane.ready", run::IsOptaneReady(modules, biosVersion));
}

}  // namespace

std::string ProbeMachine() {
  Lines out;
  const DriverRequestCounter counter;
  // The processor gate comes first; its TCpuBase brings the driver up.
  {
    TCpuBase cpu;
    out.Flag("driver.open", ReadWriteInstance()->GetDeviceHandle() != sys::kInvalidHandleValue);
    out.Add("cpu.vendor", cpu.GetVendorText());
    out.Add("cpu.vendor_code", std::to_string(cpu.GetVendorCode()));
    out.Add("cpu.brand", cpu.GetBrandText());
    out.Hex("cpu.signature", "0x%08X", cpu.GetSignature());
    out.Flag("cpu.kabylake", cpu.IsKabyLake());
  }
  out.Hex("pci.chipset", "0x%04X", ReadWriteInstance()->ReadPciConfig(0, 31, 2, 0));
  // Then the firmware, in the order the install run reads it.
  std::string biosVersion;
  ProbeBoard(out, biosVersion);
  ProbeAcpi(out);
  ProbeVariable(out);
  ProbeAaft(out, biosVersion);
  // What the reads above cost in driver requests.
  out.Add("driver.requests", std::to_string(counter.Requests()));
  return out.Text();
}

}  // namespace kestrune::tools
