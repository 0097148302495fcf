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
// (with the zip library, and through the shell when that fails; a refused
// archive is not handed to the shell).
// Stores 1 through ResultFlag when that was done, 0 otherwise.
void ProcessPackage(CompressFileStruct request);

// What became of an archive.
enum class ZipOutcome {
  Written,  // every member was written and found sound
  Failed,   // the zip library could not open the archive, or a folder or file could not be made;
            // the members written before stay
  Refused,  // a member breaks a rule or is unsound, or the archive is damaged; nothing of it stays
};

// The most that the members of one archive may declare, and so write, in all.
inline constexpr std::uint64_t kMaxArchiveBytes = std::uint64_t{1} << 30;

// Writes every member of the zip archive at zipPath (8-bit text) under
// destDir, creating folders as needed.
//
// The whole directory is checked before anything is written. A member is
// refused when its name is absolute, when one of its parts is no safe file
// name (IsSafeFileName: a drive or stream, "..", a device name, a control
// character, ...), when the name is 260 bytes or longer, when it is
// encrypted or uses a method other than stored or deflated, or when its
// declared size takes the archive's total past kMaxArchiveBytes; a
// directory that cannot be read to its end refuses the archive too.
//
// Each member's data is then checked as it is written: its local header
// and data descriptor must state what the directory does, and what it
// inflates to must have the stated checksum and size, neither ending early
// nor running past it. An unsound member refuses the archive, also one
// behind a member that could not be written, and whatever was written of
// the archive is removed again (destDir itself stays).
//
// An archive without members (its end record alone, with or without a
// comment) is written: destDir is created and stays empty.
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
