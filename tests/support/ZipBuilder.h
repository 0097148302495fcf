// Zip archives made by the tests themselves: stored or deflated members,
// names as raw bytes, chosen flags, methods, DOS dates and checksums, data
// descriptors and zip64 records as real zip writers make them, and headers
// that disagree with each other or with the data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::test {

// The one place in a member's headers that states something else than the
// others (and than the data).
enum class Misstated {
  Nothing,
  LocalCrc,        // the local header's checksum
  LocalSize,       // the local header's uncompressed size (in its zip64 field when zip64)
  DescriptorCrc,   // the data descriptor's checksum
  DescriptorSize,  // the data descriptor's uncompressed size
};

struct ZipMember {
  std::string Name;  // the bytes stored as the name
  std::string Data;
  bool Deflate = true;
  std::uint16_t Flags = 0;                      // general-purpose bit flag (0x0800: UTF-8 name)
  std::uint16_t DosDate = 0x58B1;               // 2024-05-17
  std::uint16_t DosTime = 0x6DAF;               // 13:45:30
  bool WrongCrc = false;                        // store a checksum that does not match
  std::optional<std::uint32_t> DeclaredSize{};  // the uncompressed size the headers state, when not Data's
  std::optional<std::uint16_t> Method{};        // the method the headers state, when not Deflate's
  bool DataDescriptor = false;                  // flag bit 3: checksum and sizes follow the data
  bool Zip64 = false;                           // sizes and offset in zip64 fields, with the zip64 end records
  Misstated Misstate = Misstated::Nothing;
  std::optional<std::size_t> FlipByte{};  // this byte of the stored data inverted, the checksum left as it was
  std::optional<std::size_t> CutTo{};     // the stored data cut to this many bytes, its compressed size stated so
};

// The archive's bytes, with an archive comment when one is given.
std::string MakeZip(const std::vector<ZipMember>& members, const std::string& comment = {});

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
