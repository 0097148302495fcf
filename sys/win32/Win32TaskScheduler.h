#pragma once

#include "sys/TaskScheduler.h"

namespace kestrune::sys::win32 {

// The COM library and the Task Scheduler's own COM objects.
class Win32TaskScheduler : public ITaskScheduler {
 public:
  HResult CoInitializeEx(Dword coInit) override;
  HResult CoInitializeSecurity(Long authServices, Dword authnLevel, Dword impLevel, Dword capabilities) override;
  void CoUninitialize() override;
  HResult CoCreateInstanceTaskService(Dword clsContext, std::unique_ptr<ITaskService>* service) override;
};

}  // namespace kestrune::sys::win32
