// Adapters for loading and reaching the hardware access driver: the
// Service Control Manager, the system's folders and direct port I/O.
#pragma once

#include "sys/PortIo.h"
#include "sys/ServiceControl.h"
#include "sys/SystemFolders.h"

namespace kestrune::sys::win32 {

class Win32ServiceControl : public IServiceControl {
 public:
  ScHandle OpenSCManagerA(Dword access) override;
  ScHandle CreateServiceA(ScHandle manager, const std::string& name, const std::string& displayName, Dword access,
                          Dword serviceType, Dword startType, Dword errorControl,
                          const std::string& binaryPath) override;
  ScHandle OpenServiceA(ScHandle manager, const std::string& name, Dword access) override;
  bool StartServiceA(ScHandle service) override;
  bool ControlService(ScHandle service, Dword control) override;
  bool DeleteService(ScHandle service) override;
  bool CloseServiceHandle(ScHandle handle) override;
  Dword GetLastError() override;
};

class Win32SystemFolders : public ISystemFolders {
 public:
  std::string GetSystemDirectoryA() override;
  std::string GetWindowsDirectoryA() override;
};

// IN and OUT instructions: only Windows 9x lets a program execute them.
class X86PortIo : public IPortIo {
 public:
  void WritePortDword(std::uint16_t port, std::uint32_t value) override;
  std::uint8_t ReadPortByte(std::uint16_t port) override;
  std::uint16_t ReadPortWord(std::uint16_t port) override;
  std::uint32_t ReadPortDword(std::uint16_t port) override;
};

}  // namespace kestrune::sys::win32
