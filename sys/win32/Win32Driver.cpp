#include "sys/win32/Win32Driver.h"

#include <windows.h>

namespace kestrune::sys::win32 {

namespace {

SC_HANDLE ToSc(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
ScHandle FromSc(SC_HANDLE handle) { return reinterpret_cast<ScHandle>(handle); }

}  // namespace

ScHandle Win32ServiceControl::OpenSCManagerA(Dword access) {
  return FromSc(::OpenSCManagerA(nullptr, nullptr, access));
}

ScHandle Win32ServiceControl::CreateServiceA(ScHandle manager, const std::string& name, const std::string& displayName,
                                             Dword access, Dword serviceType, Dword startType, Dword errorControl,
                                             const std::string& binaryPath) {
  return FromSc(::CreateServiceA(ToSc(manager), name.c_str(), displayName.c_str(), access, serviceType, startType,
                                 errorControl, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

ScHandle Win32ServiceControl::OpenServiceA(ScHandle manager, const std::string& name, Dword access) {
  return FromSc(::OpenServiceA(ToSc(manager), name.c_str(), access));
}

bool Win32ServiceControl::StartServiceA(ScHandle service) {
  return ::StartServiceA(ToSc(service), 0, nullptr) != FALSE;
}

bool Win32ServiceControl::ControlService(ScHandle service, Dword control) {
  SERVICE_STATUS status{};
  return ::ControlService(ToSc(service), control, &status) != FALSE;
}

bool Win32ServiceControl::DeleteService(ScHandle service) { return ::DeleteService(ToSc(service)) != FALSE; }

bool Win32ServiceControl::CloseServiceHandle(ScHandle handle) { return ::CloseServiceHandle(ToSc(handle)) != FALSE; }

Dword Win32ServiceControl::GetLastError() { return ::GetLastError(); }

std::string Win32SystemFolders::GetSystemDirectoryA() {
  char buffer[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

std::string Win32SystemFolders::GetWindowsDirectoryA() {
  char buffer[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryA(buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

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
