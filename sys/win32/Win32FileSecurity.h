// Owners and access lists of files and folders.
#pragma once

#include "sys/FileSecurity.h"

namespace kestrune::sys::win32 {

class Win32FileSecurity : public IFileSecurity {
 public:
  Dword ReadFileSecurity(const std::string& path, FileSecurity* security) override;
  std::string ProcessUserSid() override;
};

}  // namespace kestrune::sys::win32
