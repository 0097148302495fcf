// An in-memory Task Scheduler that records every call.
//
// Calls and releases are recorded in order as texts such as
// "CoInitializeEx(0x2)" (the COM library's calls, from its FakeCom),
// "ITaskFolder::DeleteTask(Kestrune, 0)" and "Release ITaskFolder"; a test
// makes any call fail by naming it in Failures ("ITaskService::Connect").
// The root folder keeps the registered tasks. Deleting a missing task
// answers 0x80070002, and nothing works before CoInitializeEx or before
// Connect.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sim/os/FakeCom.h"
#include "sys/TaskScheduler.h"

namespace kestrune::sim {

class FakeTaskScheduler : public sys::ITaskScheduler {
 public:
  // Records com's calls among its own.
  explicit FakeTaskScheduler(FakeCom& com, EventLog* log = nullptr);
  ~FakeTaskScheduler() override { Com->Forget(this); }
  FakeTaskScheduler(const FakeTaskScheduler&) = delete;
  // Takes over the other's answers and record, and stays the observer it was.
  FakeTaskScheduler& operator=(FakeTaskScheduler&&) = default;

  FakeCom* Com;
  sys::HResult CoCreateInstanceTaskService(sys::Dword clsContext, std::unique_ptr<sys::ITaskService>* service) override;

  struct Trigger {
    sys::Dword Type = 0;
    std::optional<sys::VariantBool> Enabled;
  };
  struct Action {
    sys::Dword Type = 0;
    std::optional<sys::Bstr> Path;
    std::optional<sys::Bstr> Arguments;
  };
  // A task definition; unset members were never put.
  struct Definition {
    std::optional<sys::Bstr> Author;
    std::optional<sys::Dword> RunLevel;
    std::optional<sys::VariantBool> StartWhenAvailable;
    std::optional<sys::Bstr> DeleteExpiredTaskAfter;
    std::optional<sys::Bstr> ExecutionTimeLimit;
    std::optional<sys::VariantBool> DisallowStartIfOnBatteries;
    std::vector<Trigger> Triggers;
    std::vector<Action> Actions;
  };
  struct Task {
    Definition Content;
    sys::Long Flags = 0;
    sys::TextVariant UserId;
    sys::TextVariant Password;
    sys::Dword LogonType = 0;
    sys::TextVariant Sddl;
  };

  std::map<std::u16string, Task> Tasks;          // the root folder "\\"
  std::map<std::string, sys::HResult> Failures;  // call name -> its answer
  std::vector<std::string> Calls;                // every call and release, in order

  int LiveObjects = 0;                 // objects handed out and not yet released
  int ObjectsAliveAtUninitialize = 0;  // the most that any CoUninitialize found

  // Internal: used by the fake's objects.
  sys::HResult Call(const std::string& name, const std::string& arguments);
  void Created() { ++LiveObjects; }
  void Released(const char* interfaceName);
  void Note(const std::string& event);

 private:
  EventLog* Log;
};

}  // namespace kestrune::sim
