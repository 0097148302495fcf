// A board file of the Linux machine this runs on (as root), read from the
// kernel's own interfaces rather than through the driver: the ACPI tables
// and SMBIOS from /sys/firmware, the PCI functions from /sys/bus/pci, the
// processor from /dev/cpu/0/cpuid or the CPUID instruction, the firmware
// variable from efivarfs and the BIOS area from /dev/mem where the kernel
// allows it. Everything is read, nothing written. What the machine lacks
// is left out and listed in the board's capture record.
#pragma once

#include <string>

#include "sim/board/Board.h"
#include "tools/CaptureSupport.h"

namespace kestrune::tools {

// The folders and devices the capture reads, so that tests can point it
// at a copy of them.
struct LinuxSources {
  std::string Sysfs = "/sys";
  std::string CpuidDevice = "/dev/cpu/0/cpuid";
  std::string MemoryDevice = "/dev/mem";
};

sim::Board CaptureLinuxMachine(const CaptureOptions& options, const LinuxSources& sources = {});

}  // namespace kestrune::tools
