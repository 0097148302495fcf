// The package step: a downloaded BIOS package is copied (an executable) or
// unpacked (a zip archive) into a destination folder.
#pragma once

#include <cstdint>
#include <string>

#include "sys/WinTypes.h"

namespace kestrune {

// The package step's request.
struct CompressFileStruct {
  std::string SourceFile;              // full path of the package
  std::string DestDir;                 // destination folder
  std::int32_t* ResultFlag = nullptr;  // receives 1 or 0 unless null
  std::int32_t Mode = 0;               // kPreparePackage, or nothing is done
};

inline constexpr std::int32_t kPreparePackage = 2;

// Copies an executable package into DestDir, or unpacks an archive there
// (with the zip library, and through the shell when that fails; an archive
// that holds a refused member is not handed to the shell).
// Stores 1 through ResultFlag when that was done, 0 otherwise.
void ProcessPackage(CompressFileStruct request);

// What became of an archive. Members written before a failure stay.
enum class ZipOutcome {
  Written,  // every member was written
  Failed,   // the zip library could not read the archive, or a file could not be written
  Refused,  // the archive holds a member that nothing may unpack
};

// The most that the members of one archive may declare, and so write, in all.
inline constexpr std::uint64_t kMaxArchiveBytes = std::uint64_t{1} << 30;

// Writes every member of the zip archive at zipPath (8-bit text) under
// destDir, creating folders as needed. A member is refused when its name
// is absolute, when one of its parts is no safe file name (IsSafeFileName:
// a drive or stream, "..", a device name, a control character, ...), when
// the name is 260 bytes or longer, when its declared size takes the
// archive's total past kMaxArchiveBytes, or when its data inflates past the
// size it declares.
ZipOutcome ExtractZip(const std::string& zipPath, const std::string& destDir);

// Creates dir and every missing folder above it, the outermost first.
void MakeDirectoryPath(const std::u16string& dir);

// Unpacking through the Windows shell's zip folders.
class Compress {
 public:
  // S_OK when the shell accepted the copy; the shell copies on its own and
  // nothing waits for it beyond a fixed second.
  sys::HResult Extract(const std::string& archivePath, const std::string& destDir);
};

}  // namespace kestrune
