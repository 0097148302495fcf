#include "sys/win32/X86PortIo.h"

namespace kestrune::sys::win32 {

void X86PortIo::WritePortDword(std::uint16_t port, std::uint32_t value) {
  __asm__ __volatile__("outl %0, %1" : : "a"(value), "Nd"(port));
}

std::uint8_t X86PortIo::ReadPortByte(std::uint16_t port) {
  std::uint8_t value;
  __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port));
  return value;
}

std::uint16_t X86PortIo::ReadPortWord(std::uint16_t port) {
  std::uint16_t value;
  __asm__ __volatile__("inw %1, %0" : "=a"(value) : "Nd"(port));
  return value;
}

std::uint32_t X86PortIo::ReadPortDword(std::uint16_t port) {
  std::uint32_t value;
  __asm__ __volatile__("inl %1, %0" : "=a"(value) : "Nd"(port));
  return value;
}

}  // namespace kestrune::sys::win32
