#include "update/Compress.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "common/LittleEndian.h"
#include "common/Utils.h"
#include "sys/CodePage.h"
#include "sys/Com.h"
#include "sys/FileSystem.h"
#include "sys/Files.h"
#include "sys/ProcessEnvironment.h"
#include "sys/Seam.h"
#include "sys/Shell.h"
#include "sys/UniqueAny.h"

namespace kestrune {

namespace {

constexpr std::size_t kNameBufferSize = 260;
// Compressed input is read and output is written in blocks of this size:
// well above zlib's 32 KiB window, so that inflate decodes straight into
// the output block and each write takes a whole block.
constexpr std::size_t kBlockSize = 256 * 1024;
constexpr unsigned long kEncryptedFlag = 0x0001;
constexpr unsigned long kDataDescriptorFlag = 0x0008;
constexpr unsigned long kUtf8NameFlag = 0x0800;
constexpr int kStored = 0;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kDescriptorSignature = 0x08074B50;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::int32_t kCopyOptions =
    sys::kFofSilent | sys::kFofNoConfirmation | sys::kFofNoConfirmMkdir | sys::kFofNoErrorUi;
constexpr sys::Dword kShellCopyWaitMs = 1000;

std::optional<std::u16string> AnsiToWide(const std::string& text) {
  return sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, text);
}

bool EndsWithBackslash(const std::u16string& text) { return !text.empty() && text.back() == u'\\'; }

// A member name (with "\\" separators) that stays inside the destination
// folder: relative, and each of its parts a safe file name (no drive or
// stream, no parent folder, no device). Empty parts and "." ("a\\\\b",
// ".\\b", the "\\" that ends a folder's name) are the path's own syntax,
// which the system folds away.
bool StaysInside(const std::u16string& name) {
  if (name.empty()) {
    return true;
  }
  if (name.front() == u'\\') {
    return false;
  }
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = name.find(u'\\', begin);
    if (end == std::u16string::npos) {
      end = name.size();
    }
    const std::u16string part = name.substr(begin, end - begin);
    if (!part.empty() && part != u"." && !IsSafeFileName(part)) {
      return false;
    }
    begin = end + 1;
  }
  return true;
}

// The archive's file, opened once: the zip library reads the directory
// through it, and the members' data is read from it here in large blocks,
// with the zip library's own file functions.
class ArchiveFile {
 public:
  explicit ArchiveFile(const std::string& path) {
    fill_fopen64_filefunc(&system_);
    stream_ = system_.zopen64_file(nullptr, path.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
  }
  ~ArchiveFile() {
    if (stream_ != nullptr) {
      system_.zclose_file(nullptr, stream_);
    }
  }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  bool IsOpen() const { return stream_ != nullptr; }

  // File functions that hand this file to the zip library, which then
  // neither opens nor closes it.
  zlib_filefunc64_def ForZipLibrary() {
    zlib_filefunc64_def functions = system_;
    functions.zopen64_file = [](voidpf self, const void*, int) -> voidpf {
      return static_cast<ArchiveFile*>(self)->stream_;
    };
    functions.zclose_file = [](voidpf, voidpf) { return 0; };
    functions.opaque = this;
    return functions;
  }

  std::uint64_t Size() {
    return system_.zseek64_file(nullptr, stream_, 0, ZLIB_FILEFUNC_SEEK_END) == 0
               ? system_.ztell64_file(nullptr, stream_)
               : 0;
  }
  bool Seek(std::uint64_t offset) {
    return system_.zseek64_file(nullptr, stream_, offset, ZLIB_FILEFUNC_SEEK_SET) == 0;
  }
  // Reads on from the current position: the count of bytes read, short at
  // the end of the file.
  std::size_t Read(void* out, std::size_t size) {
    return system_.zread_file(nullptr, stream_, out, static_cast<uLong>(size));
  }
  bool ReadAt(std::uint64_t offset, void* out, std::size_t size) { return Seek(offset) && Read(out, size) == size; }

 private:
  zlib_filefunc64_def system_{};
  voidpf stream_ = nullptr;
};

void CloseZip(unzFile zip) { unzClose(zip); }
// The zip library's handle of an open archive.
using UniqueZip = sys::UniqueAny<unzFile, nullptr, CloseZip>;

// The archive in file, read through the file's own functions (the library
// keeps its copy of them); an invalid owner when it cannot be opened.
UniqueZip OpenZip(ArchiveFile& file) {
  zlib_filefunc64_def functions = file.ForZipLibrary();
  return UniqueZip(unzOpen2_64("", &functions));
}

// An archive without members is its end record alone, perhaps with a
// comment: the zip library looks for that record only after the file's
// first byte and cannot open such an archive.
bool IsEmptyArchive(ArchiveFile& file) {
  const std::uint64_t size = file.Size();
  if (size < kEndRecordSize || size > kEndRecordSize + 0xFFFF) {
    return false;
  }
  std::array<std::uint8_t, kEndRecordSize> record{};
  if (!file.ReadAt(0, record.data(), record.size())) {
    return false;
  }
  // Signature, then disk numbers, entry counts, directory size and offset
  // all zero, and a comment that takes the rest of the file.
  return Le32(&record[0]) == kEndRecordSignature &&
         std::all_of(record.begin() + 4, record.begin() + 20, [](std::uint8_t b) { return b == 0; }) &&
         Le16(&record[20]) == size - kEndRecordSize;
}

// One member as the archive's directory states it.
struct Member {
  unz64_file_pos Position{};
  std::u16string Name;  // relative, with "\\" separators; empty when it cannot be decoded
  unsigned long NameLength = 0;
  int Method = kStored;
  std::uint32_t Crc = 0;
  std::uint64_t Compressed = 0;
  std::uint64_t Size = 0;
  unsigned long DosDate = 0;
};

// Reads the whole directory and checks each member against the rules
// before anything is written. None when a member breaks one of them or the
// directory cannot be read to its end.
std::optional<std::vector<Member>> CheckDirectory(unzFile zip, ZPOS64_T count) {
  std::vector<Member> members;
  std::uint64_t total = 0;
  for (ZPOS64_T index = 0; index < count; ++index) {
    if (index > 0 && unzGoToNextFile(zip) != UNZ_OK) {
      return std::nullopt;
    }
    unz_file_info64 info{};
    std::array<char, kNameBufferSize> name{};
    Member member;
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) != UNZ_OK ||
        unzGetFilePos64(zip, &member.Position) != UNZ_OK) {
      return std::nullopt;
    }
    // The buffer would hold such a name cut short and unterminated.
    if (info.size_filename >= kNameBufferSize) {
      return std::nullopt;
    }
    // Only stored and deflated members can be read, and none that is
    // encrypted; a stored member is as long as its data.
    if ((info.flag & kEncryptedFlag) != 0 ||
        (info.compression_method != kStored && info.compression_method != Z_DEFLATED) ||
        (info.compression_method == kStored && info.compressed_size != info.uncompressed_size)) {
      return std::nullopt;
    }
    if (info.uncompressed_size > kMaxArchiveBytes - total) {
      return std::nullopt;
    }
    total += info.uncompressed_size;
    // Every "/" of the name becomes "\\" before the name is decoded: in
    // UTF-8 and in every ANSI code page the byte 0x2F is "/" itself, never
    // a part of another character. The whole name is decoded, so that a
    // zero byte in it is seen as the control character it is.
    const auto decoded = sys::Use<sys::ICodePage>().MultiByteToWideChar(
        (info.flag & kUtf8NameFlag) != 0 ? sys::kCpUtf8 : sys::kCpAcp,
        ReplaceText(std::string(name.data(), info.size_filename), "/", "\\"));
    member.Name = decoded.value_or(std::u16string());
    if (!StaysInside(member.Name)) {
      return std::nullopt;
    }
    member.NameLength = info.size_filename;
    member.Method = static_cast<int>(info.compression_method);
    member.Crc = static_cast<std::uint32_t>(info.crc);
    member.Compressed = info.compressed_size;
    member.Size = info.uncompressed_size;
    member.DosDate = info.dosDate;
    members.push_back(std::move(member));
  }
  return members;
}

// The zip64 sizes of a local header's extra field: the uncompressed size,
// then the compressed one, each there when its 32-bit field holds the marker.
bool LocalZip64Sizes(const std::uint8_t* extra, std::size_t length, bool wantSize, bool wantCompressed,
                     std::uint64_t* size, std::uint64_t* compressed) {
  for (std::size_t at = 0; at + 4 <= length;) {
    const std::uint16_t id = Le16(extra + at);
    const std::size_t fieldLength = Le16(extra + at + 2);
    if (at + 4 + fieldLength > length) {
      return false;
    }
    if (id == kZip64ExtraId) {
      const std::uint8_t* field = extra + at + 4;
      const std::size_t needed = (wantSize ? 8 : 0) + (wantCompressed ? 8 : 0);
      if (fieldLength < needed) {
        return false;
      }
      if (wantSize) {
        *size = Le64(field);
        field += 8;
      }
      if (wantCompressed) {
        *compressed = Le64(field);
      }
      return true;
    }
    at += 4 + fieldLength;
  }
  return false;
}

// Where a member's data begins, and whether a data descriptor follows it.
struct DataPlace {
  std::uint64_t Offset = 0;
  bool Descriptor = false;
};

// The member's local header, checked against the directory: the same
// method, and, unless the sizes follow the data, the same checksum and sizes.
std::optional<DataPlace> CheckLocalHeader(unzFile zip, ArchiveFile& file, const Member& member) {
  if (unzGoToFilePos64(zip, const_cast<unz64_file_pos*>(&member.Position)) != UNZ_OK) {
    return std::nullopt;
  }
  // The zip library finds the header (and checks what it checks); the
  // member is opened raw, so nothing is read through it.
  int method = 0;
  if (unzOpenCurrentFile2(zip, &method, nullptr, 1) != UNZ_OK) {
    return std::nullopt;
  }
  const ZPOS64_T data = unzGetCurrentFileZStreamPos64(zip);
  const int extraLength = unzGetLocalExtrafield(zip, nullptr, 0);
  unzCloseCurrentFile(zip);
  const std::uint64_t headerLength = kLocalHeaderSize + member.NameLength + static_cast<std::uint64_t>(extraLength);
  if (extraLength < 0 || data < headerLength) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> header(headerLength);
  if (!file.ReadAt(data - headerLength, header.data(), header.size()) || Le32(&header[0]) != kLocalHeaderSignature ||
      Le16(&header[8]) != member.Method) {
    return std::nullopt;
  }
  DataPlace place{data, (Le16(&header[6]) & kDataDescriptorFlag) != 0};
  if (place.Descriptor) {
    return place;
  }
  std::uint64_t compressed = Le32(&header[18]);
  std::uint64_t size = Le32(&header[22]);
  if ((compressed == kZip64Marker || size == kZip64Marker) &&
      !LocalZip64Sizes(&header[kLocalHeaderSize + member.NameLength], static_cast<std::size_t>(extraLength),
                       size == kZip64Marker, compressed == kZip64Marker, &size, &compressed)) {
    return std::nullopt;
  }
  if (Le32(&header[14]) != member.Crc || compressed != member.Compressed || size != member.Size) {
    return std::nullopt;
  }
  return place;
}

// The data descriptor after a member's data: with or without its signature,
// with 32-bit or (zip64) 64-bit sizes; it must state what the directory does.
bool DescriptorAgrees(ArchiveFile& file, std::uint64_t offset, const Member& member) {
  std::array<std::uint8_t, 24> bytes{};
  if (!file.Seek(offset)) {
    return false;
  }
  const std::size_t got = file.Read(bytes.data(), bytes.size());
  for (const std::size_t start : {std::size_t{4}, std::size_t{0}}) {
    if (start == 4 && (got < 4 || Le32(&bytes[0]) != kDescriptorSignature)) {
      continue;
    }
    if (got >= start + 12 && Le32(&bytes[start]) == member.Crc && Le32(&bytes[start + 4]) == member.Compressed &&
        Le32(&bytes[start + 8]) == member.Size) {
      return true;
    }
    if (got >= start + 20 && Le32(&bytes[start]) == member.Crc && Le64(&bytes[start + 4]) == member.Compressed &&
        Le64(&bytes[start + 12]) == member.Size) {
      return true;
    }
  }
  return false;
}

// Where a member's bytes go: a file under the destination, or nowhere when
// the member is only checked. A write that fails drops the file.
class MemberOutput {
 public:
  MemberOutput() = default;
  MemberOutput(const std::u16string& path, std::vector<std::u16string>* written) : path_(path) {
    file_.Reset(sys::Use<sys::IFiles>().CreateFileW(path, sys::kGenericWrite, 0, sys::kCreateAlways, 0));
    if (file_.Valid()) {
      written->push_back(path);
      written_ = written;
    } else {
      failed_ = true;
    }
  }
  ~MemberOutput() = default;
  MemberOutput(const MemberOutput&) = delete;
  MemberOutput& operator=(const MemberOutput&) = delete;

  void Put(const char* data, std::size_t size) {
    if (!file_.Valid() || size == 0) {
      return;
    }
    sys::Dword count = 0;
    if (!sys::Use<sys::IFiles>().WriteFile(file_.Get(), data, static_cast<sys::Dword>(size), &count) || count != size) {
      Drop();
    }
  }
  // The member's file is complete: it takes the member's date and time.
  void Finish(unsigned long dosDate) {
    if (file_.Valid()) {
      StampFileTimes(dosDate);
    }
  }
  // A file could not be created or written.
  bool Failed() const { return failed_; }

 private:
  void StampFileTimes(unsigned long dosDate) {
    sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
    sys::FileTime local;
    sys::FileTime universal;
    if (fileSystem.DosDateTimeToFileTime(static_cast<std::uint16_t>(dosDate >> 16),
                                         static_cast<std::uint16_t>(dosDate & 0xFFFF), &local) &&
        fileSystem.LocalFileTimeToFileTime(local, &universal)) {
      sys::Use<sys::IFiles>().SetFileTime(file_.Get(), &universal, &universal, &universal);
    }
  }
  // A file that could not take all of its member is not left half written.
  void Drop() {
    file_.Reset();
    sys::Use<sys::IFileSystem>().DeleteFileW(path_);
    written_->pop_back();
    failed_ = true;
  }

  std::u16string path_;
  sys::UniqueFileHandle file_;
  std::vector<std::u16string>* written_ = nullptr;
  bool failed_ = false;
};

// Whether a member's data was found sound.
enum class DataCheck { Sound, Unsound, OutOfMemory };

// The two blocks one extraction works with, for compressed input and for
// output: each kBlockSize, or less when no member needs as much.
class Blocks {
 public:
  explicit Blocks(const std::vector<Member>& members) {
    std::uint64_t input = 1;
    std::uint64_t output = 1;
    for (const Member& member : members) {
      input = std::max(input, member.Compressed);
      output = std::max(output, member.Size);
    }
    inputSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(input, kBlockSize));
    outputSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(output, kBlockSize));
    // Every byte is read or inflated into them before it is used.
    input_.reset(new char[inputSize_]);
    output_.reset(new char[outputSize_]);
  }
  char* Input() { return input_.get(); }
  char* Output() { return output_.get(); }
  std::size_t InputSize() const { return inputSize_; }
  std::size_t OutputSize() const { return outputSize_; }

 private:
  std::size_t inputSize_ = 0;
  std::size_t outputSize_ = 0;
  std::unique_ptr<char[]> input_;
  std::unique_ptr<char[]> output_;
};

// Inflates (or copies) a member's data into out block by block, computing
// its checksum on the way. Unsound when the data ends before its stated
// compressed or uncompressed size, runs past either, cannot be inflated, or
// does not match the stated checksum; nothing past the stated size is put.
DataCheck StreamMember(ArchiveFile& file, std::uint64_t offset, const Member& member, Blocks& blocks,
                       MemberOutput& out) {
  if (!file.Seek(offset)) {
    return DataCheck::Unsound;
  }
  std::uint64_t unread = member.Compressed;
  std::uint64_t produced = 0;
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
  const auto put = [&](const char* data, std::size_t size) {
    if (size > member.Size - produced) {
      return false;
    }
    produced += size;
    crc = static_cast<std::uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
    out.Put(data, size);
    return true;
  };

  if (member.Method == kStored) {
    while (unread > 0) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(unread, blocks.OutputSize()));
      if (file.Read(blocks.Output(), want) != want || !put(blocks.Output(), want)) {
        return DataCheck::Unsound;
      }
      unread -= want;
    }
  } else {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      return DataCheck::OutOfMemory;
    }
    const std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, inflateEnd);
    bool ended = false;
    while (!ended) {
      if (stream.avail_in == 0 && unread > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(unread, blocks.InputSize()));
        if (file.Read(blocks.Input(), want) != want) {
          return DataCheck::Unsound;  // the archive ends inside the member's data
        }
        unread -= want;
        stream.next_in = reinterpret_cast<Bytef*>(blocks.Input());
        stream.avail_in = static_cast<uInt>(want);
      }
      stream.next_out = reinterpret_cast<Bytef*>(blocks.Output());
      stream.avail_out = static_cast<uInt>(blocks.OutputSize());
      const int result = inflate(&stream, Z_NO_FLUSH);
      if (result == Z_MEM_ERROR) {
        return DataCheck::OutOfMemory;
      }
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        return DataCheck::Unsound;
      }
      ended = result == Z_STREAM_END;
      const std::size_t count = blocks.OutputSize() - stream.avail_out;
      if (!put(blocks.Output(), count)) {
        return DataCheck::Unsound;
      }
      // All input taken and room left for output, yet no end: the stream
      // is cut short.
      if (!ended && stream.avail_in == 0 && unread == 0 && stream.avail_out > 0) {
        return DataCheck::Unsound;
      }
    }
    // The stream ends exactly where its stated compressed size does.
    if (stream.avail_in != 0 || unread != 0) {
      return DataCheck::Unsound;
    }
  }
  return produced == member.Size && crc == member.Crc ? DataCheck::Sound : DataCheck::Unsound;
}

// Creates dir and every missing folder above it, the outermost first, and
// notes each folder it created.
void MakeDirectoryPath(const std::u16string& dir, std::vector<std::u16string>* created) {
  if (dir.size() <= 3) {
    return;
  }
  sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
  const auto make = [&]() {
    if (!fileSystem.CreateDirectoryW(dir)) {
      return false;
    }
    if (created != nullptr) {
      created->push_back(dir);
    }
    return true;
  };
  if (make()) {
    return;
  }
  std::u16string parent = dir;
  if (EndsWithBackslash(parent)) {
    parent.pop_back();
  }
  const std::size_t slash = parent.rfind(u'\\');
  parent.resize(slash == std::u16string::npos ? 0 : slash + 1);
  MakeDirectoryPath(parent, created);
  make();
}

// What one extraction put on disk, removed again when the archive is refused.
struct Written {
  std::vector<std::u16string> Files;
  std::vector<std::u16string> Folders;

  void Remove() const {
    sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
    for (auto file = Files.rbegin(); file != Files.rend(); ++file) {
      fileSystem.DeleteFileW(*file);
    }
    for (auto folder = Folders.rbegin(); folder != Folders.rend(); ++folder) {
      fileSystem.RemoveDirectoryW(*folder);
    }
  }
};

// Unpacks the checked members under dir. Once a folder or file cannot be
// made nothing more is written, but the remaining members are still read
// and checked: an unsound one refuses the archive all the same.
ZipOutcome UnpackMembers(unzFile zip, ArchiveFile& file, const std::vector<Member>& members, const std::u16string& dir,
                         Written& written) {
  Blocks blocks(members);
  bool writing = true;
  for (const Member& member : members) {
    const std::optional<DataPlace> place = CheckLocalHeader(zip, file, member);
    if (!place) {
      return ZipOutcome::Refused;
    }
    const std::u16string target = dir + member.Name;
    const std::size_t slash = target.rfind(u'\\');
    // A folder, or a name that could not be decoded, has no file of its own.
    const bool hasFile = slash + 1 < target.size();
    MemberOutput none;
    std::optional<MemberOutput> output;
    if (writing) {
      MakeDirectoryPath(slash == std::u16string::npos ? std::u16string() : target.substr(0, slash), &written.Folders);
      if (hasFile) {
        output.emplace(target, &written.Files);
      }
    }
    MemberOutput& out = output ? *output : none;
    const DataCheck check = StreamMember(file, place->Offset, member, blocks, out);
    if (check == DataCheck::Unsound || (check == DataCheck::Sound && place->Descriptor &&
                                        !DescriptorAgrees(file, place->Offset + member.Compressed, member))) {
      return ZipOutcome::Refused;
    }
    if (check == DataCheck::OutOfMemory || out.Failed()) {
      writing = false;
      continue;
    }
    out.Finish(member.DosDate);
  }
  return writing ? ZipOutcome::Written : ZipOutcome::Failed;
}

// Missing objects answer S_FALSE from the shell; any other answer that
// brought no object is a failure too.
sys::HResult MissingObject(sys::HResult hr) { return hr != sys::kSOk ? hr : sys::kEPointer; }

sys::HResult CopyWithShell(const std::u16string& archive, const std::u16string& dest) {
  sys::IShell& shell = sys::Use<sys::IShell>();
  sys::UniqueComObject dispatch;
  sys::HResult hr =
      shell.CoCreateInstance(sys::kClsidShell, sys::kClsctxInprocServer, sys::kIidIShellDispatch, dispatch.Put());
  if (!sys::Obtained(hr, dispatch)) {
    return MissingObject(hr);
  }
  sys::UniqueComObject destFolder;
  hr = shell.NameSpace(dispatch.Get(), dest, destFolder.Put());
  if (!sys::Obtained(hr, destFolder)) {
    return MissingObject(hr);
  }
  sys::UniqueComObject sourceFolder;
  hr = shell.NameSpace(dispatch.Get(), archive, sourceFolder.Put());
  if (!sys::Obtained(hr, sourceFolder)) {
    return MissingObject(hr);
  }
  sys::UniqueComObject items;
  hr = shell.Items(sourceFolder.Get(), items.Put());
  if (!sys::Obtained(hr, items)) {
    return MissingObject(hr);
  }
  hr = shell.CopyHere(destFolder.Get(), items.Get(), kCopyOptions);
  sys::Use<sys::IProcessEnvironment>().Sleep(kShellCopyWaitMs);
  destFolder.Reset();
  sourceFolder.Reset();
  items.Reset();
  dispatch.Reset();
  return hr;
}

}  // namespace

void MakeDirectoryPath(const std::u16string& dir) { MakeDirectoryPath(dir, nullptr); }

ZipOutcome ExtractZip(const std::string& zipPath, const std::string& destDir) {
  ArchiveFile file(zipPath);
  if (!file.IsOpen()) {
    return ZipOutcome::Failed;
  }
  // Without the folder's own name nothing could be placed inside it.
  std::optional<std::u16string> dir = AnsiToWide(destDir);
  const UniqueZip zip = OpenZip(file);
  if (!zip.Valid()) {
    if (dir && IsEmptyArchive(file)) {
      sys::Use<sys::IFileSystem>().CreateDirectoryW(*dir);
      return ZipOutcome::Written;
    }
    return ZipOutcome::Failed;
  }
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(zip.Get(), &global) != UNZ_OK || !dir) {
    return ZipOutcome::Failed;
  }
  sys::Use<sys::IFileSystem>().CreateDirectoryW(*dir);
  if (!dir->empty() && !EndsWithBackslash(*dir)) {
    dir->push_back(u'\\');
  }
  const std::optional<std::vector<Member>> members = CheckDirectory(zip.Get(), global.number_entry);
  if (!members) {
    return ZipOutcome::Refused;
  }
  Written written;
  const ZipOutcome outcome = UnpackMembers(zip.Get(), file, *members, *dir, written);
  if (outcome == ZipOutcome::Refused) {
    written.Remove();
  }
  return outcome;
}

sys::HResult Compress::Extract(const std::string& archivePath, const std::string& destDir) {
  // COM is left as found: only a successful initialisation is undone.
  const sys::ComApartment apartment(sys::kCoInitApartmentThreaded);
  return CopyWithShell(AnsiToWide(archivePath).value_or(std::u16string()),
                       AnsiToWide(destDir).value_or(std::u16string()));
}

void ProcessPackage(CompressFileStruct request) {
  if (request.Mode != kPreparePackage) {
    return;
  }
  const auto store = [&request](std::int32_t value) {
    if (request.ResultFlag != nullptr) {
      *request.ResultFlag = value;
    }
  };
  sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
  const sys::Dword attributes = fileSystem.GetFileAttributesA(request.SourceFile);
  if (attributes == sys::kInvalidFileAttributes || (attributes & sys::kFileAttributeDirectory) != 0) {
    store(0);
    return;
  }
  const std::size_t slash = FindLastCharacter(request.SourceFile, '\\');
  const std::string fileName = slash == std::string::npos ? request.SourceFile : request.SourceFile.substr(slash + 1);
  const std::size_t dot = fileName.rfind('.');
  const std::string extension = dot == std::string::npos ? std::string() : UpperCase(fileName.substr(dot));

  store(0);
  if (extension.find(".EXE") != std::string::npos) {
    const auto source = AnsiToWide(request.SourceFile);
    const auto dest = AnsiToWide(request.DestDir);
    const auto name = AnsiToWide(fileName);
    // A path that the code page cannot carry is not copied anywhere else.
    if (source && dest && name) {
      fileSystem.CreateDirectoryW(*dest);
      store(fileSystem.CopyFileW(*source, *dest + (EndsWithBackslash(*dest) ? u"" : u"\\") + *name, false) ? 1 : 0);
    }
    return;
  }
  const ZipOutcome outcome = ExtractZip(request.SourceFile, request.DestDir);
  if (outcome == ZipOutcome::Written) {
    store(1);
    return;
  }
  // The shell's copy knows none of the refusals (it answers every question
  // with yes and shows no errors): what was refused here goes no further.
  if (outcome == ZipOutcome::Refused) {
    return;
  }
  Compress shellCopy;
  if (shellCopy.Extract(request.SourceFile, request.DestDir) == sys::kSOk) {
    store(1);
  }
}

}  // namespace kestrune
