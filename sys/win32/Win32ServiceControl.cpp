#include "sys/win32/Win32ServiceControl.h"

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

}  // namespace kestrune::sys::win32
