#include "update/Compress.h"

#include <unzip.h>

#include <algorithm>
#include <array>
#include <optional>

#include "install/Utils.h"
#include "sys/CodePage.h"
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

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c; }

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 name devices in every
// folder, whatever extension follows.
bool IsDeviceName(const std::u16string& part) {
  std::u16string base = part.substr(0, part.find(u'.'));
  while (!base.empty() && base.back() == u' ') {
    base.pop_back();
  }
  std::transform(base.begin(), base.end(), base.begin(), AsciiUpper);
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL") {
    return true;
  }
  return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) && base[3] >= u'1' &&
         base[3] <= u'9';
}

// A member name (with "\\" separators) that stays inside the destination
// folder: relative, no drive or stream, and no part that the system reads as
// a parent folder (".." and other runs of dots and spaces) or a device.
bool StaysInside(const std::u16string& name) {
  if (name.empty()) {
    return true;
  }
  if (name.front() == u'\\' || name.find(u':') != std::u16string::npos) {
    return false;
  }
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = name.find(u'\\', begin);
    if (end == std::u16string::npos) {
      end = name.size();
    }
    const std::u16string part = name.substr(begin, end - begin);
    const bool dotsAndSpaces = !part.empty() && part.find_first_not_of(u". ") == std::u16string::npos && part != u".";
    if (dotsAndSpaces || IsDeviceName(part)) {
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

// The current member, open for reading until the object goes. The result of
// closing it (a checksum mismatch) is not consulted.
class OpenMember {
 public:
  explicit OpenMember(unzFile zip) : zip_(zip), open_(unzOpenCurrentFilePassword(zip, nullptr) == UNZ_OK) {}
  ~OpenMember() {
    if (open_) {
      unzCloseCurrentFile(zip_);
    }
  }
  OpenMember(const OpenMember&) = delete;
  OpenMember& operator=(const OpenMember&) = delete;
  bool Open() const { return open_; }

 private:
  unzFile zip_;
  bool open_;
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

bool WriteCurrentMember(unzFile zip, const std::u16string& dir) {
  unz_file_info64 info{};
  std::array<char, kNameBufferSize> name{};
  if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) != UNZ_OK) {
    return false;
  }
  // The buffer would hold such a name cut short and unterminated.
  if (info.size_filename >= kNameBufferSize) {
    return false;
  }
  OpenMember member(zip);
  if (!member.Open()) {
    return false;
  }
  const auto decoded = sys::Use<sys::ICodePage>().MultiByteToWideChar(
      (info.flag & kUtf8NameFlag) != 0 ? sys::kCpUtf8 : sys::kCpAcp, std::string(name.data()));
  std::u16string relative = decoded.value_or(std::u16string());
  std::replace(relative.begin(), relative.end(), u'/', u'\\');
  if (!StaysInside(relative)) {
    return false;
  }
  const std::u16string target = dir + relative;
  const std::size_t slash = target.rfind(u'\\');
  MakeDirectoryPath(slash == std::u16string::npos ? std::u16string() : target.substr(0, slash));
  if (slash + 1 >= target.size()) {
    return true;  // a folder, or a name that could not be decoded
  }

  sys::IFiles& files = sys::Use<sys::IFiles>();
  sys::UniqueFileHandle file(files.CreateFileW(target, sys::kGenericWrite, 0, sys::kCreateAlways, 0));
  if (!file.Valid()) {
    return false;
  }
  std::array<char, kReadSize> buffer;
  for (;;) {
    const int read = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (read < 0) {
      return false;
    }
    if (read == 0) {
      StampFileTimes(file.Get(), info.dosDate);
      return true;
    }
    sys::Dword written = 0;
    if (!files.WriteFile(file.Get(), buffer.data(), static_cast<sys::Dword>(read), &written) ||
        written != static_cast<sys::Dword>(read)) {
      return false;
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

bool ExtractZip(const std::string& zipPath, const std::string& destDir) {
  ZipArchive archive(zipPath);
  if (archive.Get() == nullptr) {
    return false;
  }
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) {
    return false;
  }
  // Without the folder's own name nothing could be placed inside it.
  std::optional<std::u16string> dir = AnsiToWide(destDir);
  if (!dir) {
    return false;
  }
  sys::Use<sys::IFileSystem>().CreateDirectoryW(*dir);
  if (!dir->empty() && !EndsWithBackslash(*dir)) {
    dir->push_back(u'\\');
  }
  for (ZPOS64_T index = 0; index < global.number_entry; ++index) {
    if (!WriteCurrentMember(archive.Get(), *dir)) {
      return false;
    }
    if (index + 1 < global.number_entry && unzGoToNextFile(archive.Get()) != UNZ_OK) {
      return false;
    }
  }
  return true;
}

sys::HResult Compress::Extract(const std::string& archivePath, const std::string& destDir) {
  sys::IShell& shell = sys::Use<sys::IShell>();
  // COM is left as found: only a successful initialisation is undone.
  const sys::HResult initialized = shell.CoInitialize();
  const sys::HResult result =
      CopyWithShell(AnsiToWide(archivePath).value_or(std::u16string()), AnsiToWide(destDir).value_or(std::u16string()));
  if (sys::Succeeded(initialized)) {
    shell.CoUninitialize();
  }
  return result;
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
  const std::size_t slash = request.SourceFile.rfind('\\');
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
  if (ExtractZip(request.SourceFile, request.DestDir)) {
    store(1);
    return;
  }
  Compress shellCopy;
  if (shellCopy.Extract(request.SourceFile, request.DestDir) == sys::kSOk) {
    store(1);
  }
}

}  // namespace kestrune
