// Folder listings through the C library's opendir and readdir.
#pragma once

#include "sys/DirectoryListing.h"

namespace kestrune::sys::win32 {

// The C library's opendir and readdir.
class CrtDirectoryListing : public IDirectoryListing {
 public:
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override;
};

}  // namespace kestrune::sys::win32
