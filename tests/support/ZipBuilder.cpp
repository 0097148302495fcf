#include "tests/support/ZipBuilder.h"

#include <zlib.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "common/LittleEndian.h"

namespace kestrune::test {

namespace {

void Put16(std::string& out, std::uint32_t value) {
  std::uint8_t bytes[2];
  PutLe16(bytes, static_cast<std::uint16_t>(value));
  out.append(bytes, bytes + 2);
}

void Put32(std::string& out, std::uint32_t value) {
  std::uint8_t bytes[4];
  PutLe32(bytes, value);
  out.append(bytes, bytes + 4);
}

void Put64(std::string& out, std::uint64_t value) {
  std::uint8_t bytes[8];
  PutLe64(bytes, value);
  out.append(bytes, bytes + 8);
}

std::string RawDeflate(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    throw std::runtime_error("deflate");
  }
  return out;
}

}  // namespace

std::string MakeZip(const std::vector<ZipMember>& members, const std::string& comment) {
  std::string archive;
  std::string directory;
  bool zip64 = false;
  for (const ZipMember& member : members) {
    std::string stored = member.Deflate ? RawDeflate(member.Data) : member.Data;
    if (member.CutTo) {
      stored.resize(*member.CutTo);
    }
    if (member.FlipByte) {
      stored.at(*member.FlipByte) = static_cast<char>(~stored.at(*member.FlipByte));
    }
    std::uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(member.Data.data()), static_cast<uInt>(member.Data.size()));
    if (member.WrongCrc) {
      crc ^= 0x5A5A5A5A;
    }
    const auto offset = static_cast<std::uint32_t>(archive.size());
    const std::uint16_t method = member.Method.value_or(member.Deflate ? 8 : 0);
    const bool folder = !member.Name.empty() && member.Name.back() == '/';
    const std::uint32_t declared = member.DeclaredSize.value_or(static_cast<std::uint32_t>(member.Data.size()));
    const auto compressed = static_cast<std::uint32_t>(stored.size());
    const std::uint16_t flags = member.Flags | (member.DataDescriptor ? 0x0008 : 0);
    const std::uint16_t version = member.Zip64 ? 45 : 20;
    const auto misstated = [&member](Misstated place, std::uint32_t value) {
      return member.Misstate == place ? value ^ 1 : value;
    };
    zip64 = zip64 || member.Zip64;

    // The local header; behind a data descriptor its checksum and sizes are zero.
    const std::uint32_t localCrc = member.DataDescriptor ? 0 : misstated(Misstated::LocalCrc, crc);
    const std::uint32_t localSize = member.DataDescriptor ? 0 : misstated(Misstated::LocalSize, declared);
    const std::uint32_t localCompressed = member.DataDescriptor ? 0 : compressed;
    Put32(archive, 0x04034B50);
    Put16(archive, version);
    Put16(archive, flags);
    Put16(archive, method);
    Put16(archive, member.DosTime);
    Put16(archive, member.DosDate);
    Put32(archive, localCrc);
    Put32(archive, member.Zip64 ? 0xFFFFFFFF : localCompressed);
    Put32(archive, member.Zip64 ? 0xFFFFFFFF : localSize);
    Put16(archive, static_cast<std::uint32_t>(member.Name.size()));
    Put16(archive, member.Zip64 ? 20 : 0);
    archive += member.Name;
    if (member.Zip64) {
      Put16(archive, 0x0001);
      Put16(archive, 16);
      Put64(archive, localSize);
      Put64(archive, localCompressed);
    }
    archive += stored;
    if (member.DataDescriptor) {
      Put32(archive, 0x08074B50);
      Put32(archive, misstated(Misstated::DescriptorCrc, crc));
      const std::uint32_t size = misstated(Misstated::DescriptorSize, declared);
      if (member.Zip64) {
        Put64(archive, compressed);
        Put64(archive, size);
      } else {
        Put32(archive, compressed);
        Put32(archive, size);
      }
    }

    Put32(directory, 0x02014B50);
    Put16(directory, version);
    Put16(directory, version);
    Put16(directory, flags);
    Put16(directory, method);
    Put16(directory, member.DosTime);
    Put16(directory, member.DosDate);
    Put32(directory, crc);
    Put32(directory, member.Zip64 ? 0xFFFFFFFF : compressed);
    Put32(directory, member.Zip64 ? 0xFFFFFFFF : declared);
    Put16(directory, static_cast<std::uint32_t>(member.Name.size()));
    Put16(directory, member.Zip64 ? 28 : 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, folder ? 0x10 : 0x20);
    Put32(directory, member.Zip64 ? 0xFFFFFFFF : offset);
    directory += member.Name;
    if (member.Zip64) {
      Put16(directory, 0x0001);
      Put16(directory, 24);
      Put64(directory, declared);
      Put64(directory, compressed);
      Put64(directory, offset);
    }
  }
  const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
  const auto count = static_cast<std::uint32_t>(members.size());
  archive += directory;
  if (zip64) {
    // The zip64 end record and its locator; the classic record below then
    // sends its reader there.
    const auto recordOffset = static_cast<std::uint32_t>(archive.size());
    Put32(archive, 0x06064B50);
    Put64(archive, 44);
    Put16(archive, 45);
    Put16(archive, 45);
    Put32(archive, 0);
    Put32(archive, 0);
    Put64(archive, count);
    Put64(archive, count);
    Put64(archive, directory.size());
    Put64(archive, directoryOffset);
    Put32(archive, 0x07064B50);
    Put32(archive, 0);
    Put64(archive, recordOffset);
    Put32(archive, 1);
  }
  Put32(archive, 0x06054B50);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, zip64 ? 0xFFFF : count);
  Put16(archive, zip64 ? 0xFFFF : count);
  Put32(archive, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(directory.size()));
  Put32(archive, zip64 ? 0xFFFFFFFF : directoryOffset);
  Put16(archive, static_cast<std::uint32_t>(comment.size()));
  archive += comment;
  return archive;
}

std::uint16_t DosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ScratchFolder::ScratchFolder() {
  std::random_device random;
  const std::uint64_t tag = (std::uint64_t{random()} << 32) ^ random() ^
                            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  path_ = std::filesystem::temp_directory_path() / ("kestrune-" + std::to_string(tag));
  std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Text(const std::string& relative) const {
  return relative.empty() ? path_.string() : (path_ / relative).string();
}

}  // namespace kestrune::test
