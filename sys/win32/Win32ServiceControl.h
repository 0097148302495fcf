// The Service Control Manager adapter.
#pragma once

#include "sys/ServiceControl.h"

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

}  // namespace kestrune::sys::win32
