// Folder listings through the C library's opendir and readdir.
#pragma once

#include <dirent.h>

#include <cerrno>

#include "sys/DirectoryListing.h"
#include "sys/UniqueAny.h"

namespace kestrune::sys::win32 {

class CrtDirectoryListing : public IDirectoryListing {
 public:
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override {
    const UniqueAny<DIR*, nullptr, closedir> dir(opendir(path.c_str()));
    if (!dir.Valid()) {
      return errno;
    }
    names->clear();
    while (const dirent* entry = readdir(dir.Get())) {
      names->push_back(entry->d_name);
    }
    return 0;
  }
};

}  // namespace kestrune::sys::win32
