#include "tools/Probe.h"

#include <cstdio>

#include "hw/Readwrite.h"
#include "platform/Cpubase.h"

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

}  // namespace

std::string ProbeMachine() {
  Lines out;
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
  return out.Text();
}

}  // namespace kestrune::tools
