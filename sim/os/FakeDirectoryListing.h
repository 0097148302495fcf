// Folder listings: a table of folders and their names.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sys/DirectoryListing.h"

namespace kestrune::sim {

class FakeDirectoryListing : public sys::IDirectoryListing {
 public:
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override;
  std::map<std::string, std::vector<std::string>> Folders;  // missing folders answer ENOENT (2)
};

}  // namespace kestrune::sim
