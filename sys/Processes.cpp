#include "sys/Processes.h"

#include "sys/Seam.h"

namespace kestrune::sys {

void UniqueProcessHandle::Reset(ProcessHandle handle) {
  if (handle_ != kNoProcessHandle) {
    Use<IProcesses>().CloseHandle(handle_);
  }
  handle_ = handle;
}

}  // namespace kestrune::sys
