#include "sim/os/FakeServiceControl.h"

#include <algorithm>

namespace kestrune::sim {

std::string FakeServiceControl::Key(const std::string& name) {
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return key;
}

const FakeServiceControl::Service* FakeServiceControl::Find(const std::string& name) const {
  auto it = Services.find(Key(name));
  return it == Services.end() ? nullptr : &it->second;
}

void FakeServiceControl::Add(const Service& service) { Services[Key(service.Name)] = service; }

void FakeServiceControl::Record(const std::string& call) {
  Calls.push_back(call);
  if (Log != nullptr) {
    Log->Add("scm " + call);
  }
}

FakeServiceControl::Service* FakeServiceControl::ServiceOf(sys::ScHandle handle) {
  auto it = Handles.find(handle);
  if (it == Handles.end() || it->second.empty()) {
    return nullptr;
  }
  auto service = Services.find(it->second);
  return service == Services.end() ? nullptr : &service->second;
}

sys::ScHandle FakeServiceControl::OpenSCManagerA(sys::Dword) {
  Record("OpenSCManager");
  if (FailOpenManager != 0) {
    return Fail(FailOpenManager);
  }
  const sys::ScHandle handle = NextHandle;
  NextHandle += 8;
  Handles.emplace(handle, std::string());
  return handle;
}

sys::ScHandle FakeServiceControl::CreateServiceA(sys::ScHandle manager, const std::string& name,
                                                 const std::string& displayName, sys::Dword, sys::Dword serviceType,
                                                 sys::Dword startType, sys::Dword errorControl,
                                                 const std::string& binaryPath) {
  Record("CreateService " + name + " " + binaryPath);
  auto it = Handles.find(manager);
  if (it == Handles.end() || !it->second.empty()) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  if (FailCreate != 0) {
    return Fail(FailCreate);
  }
  if (Services.count(Key(name)) != 0) {
    return Fail(static_cast<sys::Dword>(sys::kErrorServiceExists));
  }
  Services[Key(name)] = Service{name, displayName, binaryPath, serviceType, startType, errorControl, false};
  const sys::ScHandle handle = NextHandle;
  NextHandle += 8;
  Handles.emplace(handle, Key(name));
  return handle;
}

sys::ScHandle FakeServiceControl::OpenServiceA(sys::ScHandle manager, const std::string& name, sys::Dword) {
  Record("OpenService " + name);
  auto it = Handles.find(manager);
  if (it == Handles.end() || !it->second.empty()) {
    return Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
  }
  if (FailOpen != 0) {
    return Fail(FailOpen);
  }
  if (Services.count(Key(name)) == 0) {
    return Fail(static_cast<sys::Dword>(sys::kErrorServiceDoesNotExist));
  }
  const sys::ScHandle handle = NextHandle;
  NextHandle += 8;
  Handles.emplace(handle, Key(name));
  return handle;
}

bool FakeServiceControl::StartServiceA(sys::ScHandle handle) {
  Service* service = ServiceOf(handle);
  Record("StartService " + (service != nullptr ? service->Name : std::string("?")));
  if (service == nullptr) {
    Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
    return false;
  }
  if (service->Running) {
    Fail(static_cast<sys::Dword>(sys::kErrorServiceAlreadyRunning));
    return false;
  }
  if (OnStart && !OnStart(service->Name)) {
    Fail(StartError);
    return false;
  }
  service->Running = true;
  return true;
}

bool FakeServiceControl::ControlService(sys::ScHandle handle, sys::Dword control) {
  Service* service = ServiceOf(handle);
  Record("ControlService " + (service != nullptr ? service->Name : std::string("?")) + " " + std::to_string(control));
  if (service == nullptr) {
    Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
    return false;
  }
  if (control != sys::kServiceControlStop) {
    Fail(static_cast<sys::Dword>(sys::kErrorInvalidParameter));
    return false;
  }
  if (!service->Running) {
    Fail(static_cast<sys::Dword>(sys::kErrorServiceNotActive));
    return false;
  }
  service->Running = false;
  if (OnStop) {
    OnStop(service->Name);
  }
  return true;
}

bool FakeServiceControl::DeleteService(sys::ScHandle handle) {
  Service* service = ServiceOf(handle);
  Record("DeleteService " + (service != nullptr ? service->Name : std::string("?")));
  if (service == nullptr) {
    Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
    return false;
  }
  Services.erase(Key(service->Name));
  return true;
}

bool FakeServiceControl::CloseServiceHandle(sys::ScHandle handle) {
  if (Handles.erase(handle) == 0) {
    Fail(static_cast<sys::Dword>(sys::kErrorInvalidHandle));
    return false;
  }
  return true;
}

}  // namespace kestrune::sim
