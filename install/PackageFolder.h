// The folder the BIOS package is unpacked into ("ROM" in the current
// directory), and the flash tool found in it. The folder the program runs
// from may be a person's own: a "ROM" that is there already is moved aside,
// never deleted, so that the tool that runs comes from this run's package
// and nothing that was there is lost.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

class PackageFolder {
 public:
  explicit PackageFolder(std::string path) : Path(std::move(path)) {}

  const std::string& GetPath() const { return Path; }

  // Moves a folder or file at the path aside, to the path followed by
  // ".old-YYYYMMDD-HHMMSS" in local time (and "-2", "-3" ... when that name
  // is taken), then creates the folder anew, empty. False when either step
  // fails; the old folder then stays where it was.
  bool Renew();
  // The path it was moved to; empty when there was nothing to move.
  const std::string& GetMovedTo() const { return MovedTo; }

  // The first regular file of the listing whose name ends in ".exe" in any
  // letter case: "AFUWINx64.EXE" is a tool, a folder "x.exe" and a file
  // "readme.exe.txt" are not.
  std::optional<std::string> FindFlashTool(const std::vector<std::string>& names) const;

 private:
  std::string Path;
  std::string MovedTo;
};

}  // namespace kestrune
