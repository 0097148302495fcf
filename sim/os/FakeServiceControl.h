// An in-memory Service Control Manager with the system's error codes. A
// simulated board hooks OnStart to load its driver when the driver's
// service starts.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/ServiceControl.h"

namespace kestrune::sim {

class FakeServiceControl : public sys::IServiceControl {
 public:
  explicit FakeServiceControl(EventLog* log = nullptr) : Log(log) {}

  struct Service {
    std::string Name;
    std::string DisplayName;
    std::string BinaryPath;
    sys::Dword Type = 0;
    sys::Dword StartType = 0;
    sys::Dword ErrorControl = 0;
    bool Running = false;
  };
  const Service* Find(const std::string& name) const;
  void Add(const Service& service);
  std::size_t OpenHandles() const { return Handles.size(); }

  // Failure knobs: 0 means no failure.
  sys::Dword FailOpenManager = 0;
  sys::Dword FailCreate = 0;
  sys::Dword FailOpen = 0;
  // Called when a service starts; false makes the start fail with
  // StartError (the driver could not be loaded).
  std::function<bool(const std::string& name)> OnStart;
  std::function<void(const std::string& name)> OnStop;
  sys::Dword StartError = 2;
  // Every call, in order: "OpenSCManager", "CreateService NAME PATH", ...
  std::vector<std::string> Calls;

  sys::ScHandle OpenSCManagerA(sys::Dword access) override;
  sys::ScHandle CreateServiceA(sys::ScHandle manager, const std::string& name, const std::string& displayName,
                               sys::Dword access, sys::Dword serviceType, sys::Dword startType, sys::Dword errorControl,
                               const std::string& binaryPath) override;
  sys::ScHandle OpenServiceA(sys::ScHandle manager, const std::string& name, sys::Dword access) override;
  bool StartServiceA(sys::ScHandle service) override;
  bool ControlService(sys::ScHandle service, sys::Dword control) override;
  bool DeleteService(sys::ScHandle service) override;
  bool CloseServiceHandle(sys::ScHandle handle) override;
  sys::Dword GetLastError() override { return LastError; }

 private:
  static std::string Key(const std::string& name);
  sys::ScHandle Fail(sys::Dword error) {
    LastError = error;
    return 0;
  }
  Service* ServiceOf(sys::ScHandle handle);
  void Record(const std::string& call);

  EventLog* Log;
  std::map<std::string, Service> Services;       // key -> service
  std::map<sys::ScHandle, std::string> Handles;  // handle -> service key, "" for a manager
  sys::ScHandle NextHandle = 0x5C0000;
  sys::Dword LastError = 0;
};

}  // namespace kestrune::sim
