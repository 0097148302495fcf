// Owners and access lists by path, as the system keeps them: a path that is
// not listed does not exist (error 2), so every file and folder a test
// checks must be given its security.
#pragma once

#include <algorithm>
#include <map>
#include <string>

#include "sys/Errors.h"
#include "sys/FileSecurity.h"

namespace kestrune::sim {

class FakeFileSecurity : public sys::IFileSecurity {
 public:
  sys::Dword ReadFileSecurity(const std::string& path, sys::FileSecurity* security) override {
    const auto found = Paths.find(Key(path));
    if (found == Paths.end()) {
      return static_cast<sys::Dword>(sys::kErrorFileNotFound);
    }
    *security = found->second;
    return 0;
  }
  std::string ProcessUserSid() override { return ProcessUser; }

  // Names compare as the file system compares them: in any case.
  void Set(const std::string& path, sys::FileSecurity security) { Paths[Key(path)] = std::move(security); }

  // An elevated administrator's process.
  std::string ProcessUser = "S-1-5-21-1004336348-1177238915-682003330-1001";

 private:
  static std::string Key(std::string path) {
    std::transform(path.begin(), path.end(), path.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return path;
  }
  std::map<std::string, sys::FileSecurity> Paths;
};

}  // namespace kestrune::sim
