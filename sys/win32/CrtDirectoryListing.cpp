#include "sys/win32/CrtDirectoryListing.h"

#include <dirent.h>

#include <cerrno>
#include <memory>

namespace kestrune::sys::win32 {

int CrtDirectoryListing::ListDirectory(const std::string& path, std::vector<std::string>* names) {
  struct Closer {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, Closer> dir(opendir(path.c_str()));
  if (!dir) {
    return errno;
  }
  names->clear();
  while (const dirent* entry = readdir(dir.get())) {
    names->push_back(entry->d_name);
  }
  return 0;
}

}  // namespace kestrune::sys::win32
