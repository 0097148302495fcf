// Zip archives made by the tests themselves: stored or deflated members,
// names as raw bytes, chosen flags, DOS dates and checksums.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::test {

struct ZipMember {
  std::string Name;  // the bytes stored as the name
  std::string Data;
  bool Deflate = true;
  std::uint16_t Flags = 0;                      // general-purpose bit flag (0x0800: UTF-8 name)
  std::uint16_t DosDate = 0x58B1;               // 2024-05-17
  std::uint16_t DosTime = 0x6DAF;               // 13:45:30
  bool WrongCrc = false;                        // store a checksum that does not match
  std::optional<std::uint32_t> DeclaredSize{};  // the uncompressed size the headers state, when not Data's
};

// The archive's bytes.
std::string MakeZip(const std::vector<ZipMember>& members);

// A DOS date and time from their parts.
std::uint16_t DosDate(int year, int month, int day);
std::uint16_t DosTime(int hour, int minute, int second);

void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  // The path as 8-bit text, the form the program's file functions take.
  std::string Text(const std::string& relative = {}) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kestrune::test
