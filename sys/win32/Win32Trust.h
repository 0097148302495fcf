// Authenticode signatures of files.
#pragma once

#include "sys/Trust.h"

namespace kestrune::sys::win32 {

class Win32Trust : public ITrust {
 public:
  FileTrust VerifyFile(const std::string& path, Revocation revocation) override;
};

}  // namespace kestrune::sys::win32
