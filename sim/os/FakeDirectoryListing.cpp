#include "sim/os/FakeDirectoryListing.h"

namespace kestrune::sim {

int FakeDirectoryListing::ListDirectory(const std::string& path, std::vector<std::string>* names) {
  auto it = Folders.find(path);
  if (it == Folders.end()) {
    return 2;  // ENOENT
  }
  *names = it->second;
  return 0;
}

}  // namespace kestrune::sim
