#include "install/PackageFolder.h"

#include <cstdio>

#include "common/Utils.h"
#include "sys/Clock.h"
#include "sys/Errors.h"
#include "sys/FileSystem.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

// More attempts than any number of runs within one second.
constexpr int kMaxAsideNames = 100;

std::string AsideSuffix(const sys::SystemTime& now) {
  char text[64];
  std::snprintf(text, sizeof text, ".old-%04u%02u%02u-%02u%02u%02u", unsigned{now.Year}, unsigned{now.Month},
                unsigned{now.Day}, unsigned{now.Hour}, unsigned{now.Minute}, unsigned{now.Second});
  return text;
}

bool IsRegularFile(const std::string& path) {
  const sys::Dword attributes = sys::Use<sys::IFileSystem>().GetFileAttributesA(path);
  return attributes != sys::kInvalidFileAttributes && (attributes & sys::kFileAttributeDirectory) == 0;
}

}  // namespace

bool PackageFolder::Renew() {
  sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
  MovedTo.clear();
  if (fileSystem.GetFileAttributesA(Path) != sys::kInvalidFileAttributes) {
    const std::string base = Path + AsideSuffix(sys::Use<sys::IClock>().GetLocalTime());
    for (int attempt = 1; attempt <= kMaxAsideNames && MovedTo.empty(); ++attempt) {
      const std::string target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
      if (fileSystem.MoveFileA(Path, target)) {
        MovedTo = target;
      } else if (fileSystem.GetLastError() != static_cast<sys::Dword>(sys::kErrorAlreadyExists)) {
        return false;
      }
    }
    if (MovedTo.empty()) {
      return false;
    }
  }
  return fileSystem.CreateDirectoryA(Path);
}

std::optional<std::string> PackageFolder::FindFlashTool(const std::vector<std::string>& names) const {
  for (const std::string& name : names) {
    if (name.size() > 4 && UpperCase(name.substr(name.size() - 4)) == ".EXE" && IsRegularFile(Path + "\\" + name)) {
      return name;
    }
  }
  return std::nullopt;
}

}  // namespace kestrune
