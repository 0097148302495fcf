#include "hw/ReadWriteAccess.h"

#include "hw/Readwrite.h"
#include "install/Debugconsole.h"

namespace kestrune {

bool ReadWriteAccess::ReadPhysicalMemory(void* buffer, std::uint32_t length, std::uint64_t address) {
  return ReadWrite.ReadPhysicalMemory(buffer, length, address);
}

std::uint64_t ReadWriteAccess::SearchPhysicalMemory(std::uint32_t length, std::uint32_t step,
                                                    std::uint32_t patternLength, const void* pattern,
                                                    std::uint32_t skip, std::uint64_t start) {
  return ReadWrite.SearchPhysicalMemory(length, step, patternLength, pattern, skip, start);
}

std::uint8_t ReadWriteAccess::ReadPciConfigByte(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                                std::uint8_t function) {
  return ReadWrite.ReadPciConfigByte(bus, device, reg, function);
}

std::uint16_t ReadWriteAccess::ReadPciConfig(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                             std::uint8_t function) {
  return ReadWrite.ReadPciConfig(bus, device, reg, function);
}

std::uint32_t ReadWriteAccess::ReadPciConfigDword(std::uint8_t bus, std::uint8_t device, std::uint16_t reg,
                                                  std::uint8_t function) {
  return ReadWrite.ReadPciConfigDword(bus, device, reg, function);
}

void ConsoleTrace::WriteLine(const std::string& text) {
  if (Console != nullptr) {
    Console->WriteLine(text);
  }
}

void ConsoleTrace::WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) {
  if (Console != nullptr) {
    Console->WriteStatus(name, status, colour);
  }
}

}  // namespace kestrune
