// Direct port I/O with the processor's IN and OUT instructions: only
// Windows 9x lets a program execute them.
#pragma once

#include "sys/PortIo.h"

namespace kestrune::sys::win32 {

class X86PortIo : public IPortIo {
 public:
  void WritePortDword(std::uint16_t port, std::uint32_t value) override {
    __asm__ __volatile__("outl %0, %1" : : "a"(value), "Nd"(port));
  }
  std::uint8_t ReadPortByte(std::uint16_t port) override {
    std::uint8_t value;
    __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port));
    return value;
  }
  std::uint16_t ReadPortWord(std::uint16_t port) override {
    std::uint16_t value;
    __asm__ __volatile__("inw %1, %0" : "=a"(value) : "Nd"(port));
    return value;
  }
  std::uint32_t ReadPortDword(std::uint16_t port) override {
    std::uint32_t value;
    __asm__ __volatile__("inl %1, %0" : "=a"(value) : "Nd"(port));
    return value;
  }
};

}  // namespace kestrune::sys::win32
