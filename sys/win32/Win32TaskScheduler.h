#pragma once

#include "sys/TaskScheduler.h"

namespace kestrune::sys::win32 {

// The Task Scheduler's own COM objects.
class Win32TaskScheduler : public ITaskScheduler {
 public:
  HResult CoCreateInstanceTaskService(Dword clsContext, std::unique_ptr<ITaskService>* service) override;
};

}  // namespace kestrune::sys::win32
