// Folder listings: a table of folders and their names.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sys/DirectoryListing.h"

namespace kestrune::sim {

class FakeDirectoryListing : public sys::IDirectoryListing {
 public:
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override {
    const auto it = Folders.find(path);
    if (it == Folders.end()) {
      return 2;  // ENOENT
    }
    *names = it->second;
    return 0;
  }
  std::map<std::string, std::vector<std::string>> Folders;  // missing folders answer ENOENT (2)
};

}  // namespace kestrune::sim
