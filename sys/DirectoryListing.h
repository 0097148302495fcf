// The C library's directory listing (opendir, readdir, closedir).
#pragma once

#include <string>
#include <vector>

namespace kestrune::sys {

class IDirectoryListing {
 public:
  virtual ~IDirectoryListing() = default;
  // The entry names of the folder in the order the listing returns them
  // ("." and ".." included where the system lists them). Answers 0, or the
  // C library's error number when the folder cannot be opened.
  virtual int ListDirectory(const std::string& path, std::vector<std::string>* names) = 0;
};

}  // namespace kestrune::sys
