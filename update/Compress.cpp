#include "update/Compress.h"

#include <unzip.h>
#include <zlib.h>

#include <array>
#include <optional>

#include "install/Utils.h"
#include "sys/CodePage.h"
#include "sys/Com.h"
#include "sys/FileSystem.h"
#include "sys/Files.h"
#include "sys/ProcessEnvironment.h"
#include "sys/Seam.h"
#include "sys/Shell.h"

namespace kestrune {

namespace {

constexpr std::size_t kNameBufferSize = 260;
constexpr std::size_t kReadSize = 4096;
constexpr unsigned long kUtf8NameFlag = 0x0800;
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

class ZipArchive {
 public:
  explicit ZipArchive(const std::string& path) : zip_(unzOpen64(path.c_str())) {}
  ~ZipArchive() {
    if (zip_ != nullptr) {
      unzClose(zip_);
    }
  }
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  unzFile Get() const { return zip_; }

 private:
  unzFile zip_;
};

// The current member's data. The zip library hands over the raw bytes and
// they are inflated here, so that data going on past the member's declared
// size is seen instead of cut off. The member stays open until the object
// goes; the result of closing it (a checksum mismatch) is not consulted.
class MemberData {
 public:
  static constexpr int kUnreadable = -1;
  static constexpr int kTooLong = -2;

  MemberData(unzFile zip, ZPOS64_T declaredSize) : zip_(zip), declared_(declaredSize) {
    int method = 0;
    open_ = unzOpenCurrentFile2(zip, &method, nullptr, 1) == UNZ_OK;
    deflated_ = method == Z_DEFLATED;
    if (open_ && deflated_) {
      inflating_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    }
    usable_ = open_ && (method == 0 || inflating_);
  }
  ~MemberData() {
    if (inflating_) {
      inflateEnd(&stream_);
    }
    if (open_) {
      unzCloseCurrentFile(zip_);
    }
  }
  MemberData(const MemberData&) = delete;
  MemberData& operator=(const MemberData&) = delete;

  // A stored or deflated member that could be opened.
  bool Usable() const { return usable_; }

  // Up to size bytes of uncompressed data: their count, 0 at the member's
  // end, kUnreadable or kTooLong.
  int Read(char* out, unsigned size) {
    const int count = deflated_ ? Inflate(out, size) : unzReadCurrentFile(zip_, out, size);
    if (count < 0) {
      return kUnreadable;
    }
    produced_ += static_cast<ZPOS64_T>(count);
    return produced_ > declared_ ? kTooLong : count;
  }

 private:
  int Inflate(char* out, unsigned size) {
    stream_.next_out = reinterpret_cast<Bytef*>(out);
    stream_.avail_out = size;
    while (stream_.avail_out > 0 && !ended_) {
      if (stream_.avail_in == 0 && !inputEnded_) {
        const int got = unzReadCurrentFile(zip_, input_.data(), static_cast<unsigned>(input_.size()));
        if (got < 0) {
          return -1;
        }
        inputEnded_ = got == 0;
        stream_.next_in = reinterpret_cast<Bytef*>(input_.data());
        stream_.avail_in = static_cast<uInt>(got);
      }
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END || (result == Z_BUF_ERROR && inputEnded_)) {
        // A stream cut short ends where its bytes end.
        ended_ = true;
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        return -1;
      }
    }
    return static_cast<int>(size - stream_.avail_out);
  }

  unzFile zip_;
  ZPOS64_T declared_;
  ZPOS64_T produced_ = 0;
  bool open_ = false;
  bool deflated_ = false;
  bool inflating_ = false;
  bool usable_ = false;
  bool inputEnded_ = false;
  bool ended_ = false;
  z_stream stream_{};
  std::array<char, kReadSize> input_{};
};

void StampFileTimes(sys::FileHandle file, unsigned long dosDate) {
  sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
  sys::FileTime local;
  sys::FileTime universal;
  if (fileSystem.DosDateTimeToFileTime(static_cast<std::uint16_t>(dosDate >> 16),
                                       static_cast<std::uint16_t>(dosDate & 0xFFFF), &local) &&
      fileSystem.LocalFileTimeToFileTime(local, &universal)) {
    sys::Use<sys::IFiles>().SetFileTime(file, &universal, &universal, &universal);
  }
}

// Writes the current member under dir; *total is what the archive's
// members have declared so far.
ZipOutcome WriteCurrentMember(unzFile zip, const std::u16string& dir, std::uint64_t* total) {
  unz_file_info64 info{};
  std::array<char, kNameBufferSize> name{};
  if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) != UNZ_OK) {
    return ZipOutcome::Failed;
  }
  // The buffer would hold such a name cut short and unterminated.
  if (info.size_filename >= kNameBufferSize) {
    return ZipOutcome::Refused;
  }
  if (info.uncompressed_size > kMaxArchiveBytes - *total) {
    return ZipOutcome::Refused;
  }
  *total += info.uncompressed_size;
  MemberData member(zip, info.uncompressed_size);
  if (!member.Usable()) {
    return ZipOutcome::Failed;
  }
  // Every "/" of the name becomes "\\" before the name is decoded: in UTF-8
  // and in every ANSI code page the byte 0x2F is "/" itself, never a part
  // of another character.
  const auto decoded = sys::Use<sys::ICodePage>().MultiByteToWideChar(
      (info.flag & kUtf8NameFlag) != 0 ? sys::kCpUtf8 : sys::kCpAcp, ReplaceText(name.data(), "/", "\\"));
  const std::u16string relative = decoded.value_or(std::u16string());
  if (!StaysInside(relative)) {
    return ZipOutcome::Refused;
  }
  const std::u16string target = dir + relative;
  const std::size_t slash = target.rfind(u'\\');
  MakeDirectoryPath(slash == std::u16string::npos ? std::u16string() : target.substr(0, slash));
  if (slash + 1 >= target.size()) {
    return ZipOutcome::Written;  // a folder, or a name that could not be decoded
  }

  sys::IFiles& files = sys::Use<sys::IFiles>();
  sys::UniqueFileHandle file(files.CreateFileW(target, sys::kGenericWrite, 0, sys::kCreateAlways, 0));
  if (!file.Valid()) {
    return ZipOutcome::Failed;
  }
  std::array<char, kReadSize> buffer;
  for (;;) {
    const int read = member.Read(buffer.data(), static_cast<unsigned>(buffer.size()));
    if (read == MemberData::kTooLong) {
      return ZipOutcome::Refused;
    }
    if (read < 0) {
      return ZipOutcome::Failed;
    }
    if (read == 0) {
      StampFileTimes(file.Get(), info.dosDate);
      return ZipOutcome::Written;
    }
    sys::Dword written = 0;
    if (!files.WriteFile(file.Get(), buffer.data(), static_cast<sys::Dword>(read), &written) ||
        written != static_cast<sys::Dword>(read)) {
      return ZipOutcome::Failed;
    }
  }
}

// Missing objects answer S_FALSE from the shell; any other answer that
// brought no object is a failure too.
sys::HResult MissingObject(sys::HResult hr) { return hr != sys::kSOk ? hr : sys::kEPointer; }

sys::HResult CopyWithShell(const std::u16string& archive, const std::u16string& dest) {
  sys::IShell& shell = sys::Use<sys::IShell>();
  sys::UniqueComObject dispatch;
  sys::HResult hr =
      shell.CoCreateInstance(sys::kClsidShell, sys::kClsctxInprocServer, sys::kIidIShellDispatch, dispatch.Put());
  if (!sys::Succeeded(hr) || dispatch.Get() == 0) {
    return MissingObject(hr);
  }
  sys::UniqueComObject destFolder;
  hr = shell.NameSpace(dispatch.Get(), dest, destFolder.Put());
  if (!sys::Succeeded(hr) || destFolder.Get() == 0) {
    return MissingObject(hr);
  }
  sys::UniqueComObject sourceFolder;
  hr = shell.NameSpace(dispatch.Get(), archive, sourceFolder.Put());
  if (!sys::Succeeded(hr) || sourceFolder.Get() == 0) {
    return MissingObject(hr);
  }
  sys::UniqueComObject items;
  hr = shell.Items(sourceFolder.Get(), items.Put());
  if (!sys::Succeeded(hr) || items.Get() == 0) {
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

void MakeDirectoryPath(const std::u16string& dir) {
  if (dir.size() <= 3) {
    return;
  }
  sys::IFileSystem& fileSystem = sys::Use<sys::IFileSystem>();
  if (fileSystem.CreateDirectoryW(dir)) {
    return;
  }
  std::u16string parent = dir;
  if (EndsWithBackslash(parent)) {
    parent.pop_back();
  }
  const std::size_t slash = parent.rfind(u'\\');
  parent.resize(slash == std::u16string::npos ? 0 : slash + 1);
  MakeDirectoryPath(parent);
  fileSystem.CreateDirectoryW(dir);
}

ZipOutcome ExtractZip(const std::string& zipPath, const std::string& destDir) {
  ZipArchive archive(zipPath);
  if (archive.Get() == nullptr) {
    return ZipOutcome::Failed;
  }
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) {
    return ZipOutcome::Failed;
  }
  // Without the folder's own name nothing could be placed inside it.
  std::optional<std::u16string> dir = AnsiToWide(destDir);
  if (!dir) {
    return ZipOutcome::Failed;
  }
  sys::Use<sys::IFileSystem>().CreateDirectoryW(*dir);
  if (!dir->empty() && !EndsWithBackslash(*dir)) {
    dir->push_back(u'\\');
  }
  std::uint64_t total = 0;
  for (ZPOS64_T index = 0; index < global.number_entry; ++index) {
    if (const ZipOutcome outcome = WriteCurrentMember(archive.Get(), *dir, &total); outcome != ZipOutcome::Written) {
      return outcome;
    }
    if (index + 1 < global.number_entry && unzGoToNextFile(archive.Get()) != UNZ_OK) {
      return ZipOutcome::Failed;
    }
  }
  return ZipOutcome::Written;
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
      fileSystem.CopyFileW(*source, *dest + (EndsWithBackslash(*dest) ? u"" : u"\\") + *name, false);
    }
    store(1);
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
