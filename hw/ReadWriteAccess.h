// The firmware readers' view of the machine (IMachineAccess) over the
// process-wide TReadWrite, and their trace sink over the debug console: what
// the hardware objects hand the readers.
#pragma once

#include "hw/MachineAccess.h"
#include "hw/Trace.h"

namespace kestrune {

class TReadWrite;
class TDebugConsole;

class ReadWriteAccess : public IMachineAccess {
 public:
  explicit ReadWriteAccess(TReadWrite& readWrite) : ReadWrite(readWrite) {}
  bool ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address) override;
  std::uint64_t SearchPhysicalMemory(std::uint32_t length, std::uint32_t step, std::uint32_t patternLength,
                                     const void* pattern, std::uint32_t skip, std::uint64_t start) override;
  std::uint8_t ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                 std::uint8_t function) override;
  std::uint16_t ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg, std::uint8_t function) override;
  std::uint32_t ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                   std::uint8_t function) override;

 private:
  TReadWrite& ReadWrite;
};

class ConsoleTrace : public ITraceSink {
 public:
  explicit ConsoleTrace(TDebugConsole* console) : Console(console) {}
  void WriteLine(const std::string& text) override;
  void WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) override;

 private:
  TDebugConsole* Console;
};

}  // namespace kestrune
