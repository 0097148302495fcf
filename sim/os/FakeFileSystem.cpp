#include "sim/os/FakeFileSystem.h"

#include <algorithm>
#include <cstring>

#include "sys/CodePage.h"
#include "sys/Seam.h"

namespace kestrune::sim {

namespace {

using sys::kErrorDiskFull;
using sys::kErrorFileExists;
using sys::kErrorInvalidName;
constexpr sys::Dword kFileAttributeArchive = 0x20;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

char16_t Upper(char16_t c) {
  const bool lower = (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
  return lower ? static_cast<char16_t>(c - 0x20) : c;
}

bool IsDrive(const std::u16string& path, std::size_t at = 0) {
  if (path.size() < at + 2 || path[at + 1] != u':') {
    return false;
  }
  const char16_t letter = Upper(path[at]);
  return letter >= u'A' && letter <= u'Z';
}

// The name characters the system refuses (after the drive's own colon).
bool HasInvalidCharacter(const std::u16string& full) {
  for (std::size_t i = IsDrive(full) ? 2 : 0; i < full.size(); ++i) {
    const char16_t c = full[i];
    if (c < 0x20 || c == u':' || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*') {
      return true;
    }
  }
  return false;
}

std::vector<std::u16string> SplitParts(const std::u16string& text) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : text) {
    if (c == u'\\' || c == u'/') {
      parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  parts.push_back(part);
  return parts;
}

sys::FileTime ToFileTime(std::int64_t ticks) {
  const auto value = static_cast<std::uint64_t>(ticks);
  return {static_cast<sys::Dword>(value & 0xFFFFFFFF), static_cast<sys::Dword>(value >> 32)};
}

std::int64_t Ticks(const sys::FileTime& time) {
  return static_cast<std::int64_t>((std::uint64_t{time.HighDateTime} << 32) | time.LowDateTime);
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysSince1601(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t daysSince1970 = era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
  return daysSince1970 + 134774;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// An 8-bit path as the system reads it: in the ANSI code page when one is
// installed (Latin-1 otherwise); a path the code page cannot carry reads as
// a name that matches nothing.
std::u16string FromAnsi(const std::string& path) {
  if (!sys::Seam<sys::ICodePage>::Installed()) {
    return FakeFileSystem::Widen(path);
  }
  return sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, path).value_or(u"?");
}

}  // namespace

FakeFileSystem::FakeFileSystem(EventLog* log) : Log(log) {}

std::u16string FakeFileSystem::Widen(const std::string& latin1) {
  std::u16string wide;
  for (char c : latin1) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  }
  return wide;
}

std::string FakeFileSystem::Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t c : text) {
    narrow.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  }
  return narrow;
}

std::u16string FakeFileSystem::FullPath(const std::u16string& path) const {
  std::u16string root;
  std::u16string rest;
  const bool leadingSlash = !path.empty() && (path[0] == u'\\' || path[0] == u'/');
  if (leadingSlash && path.size() > 1 && (path[1] == u'\\' || path[1] == u'/')) {
    // \\server\share\...: the share is the root.
    std::vector<std::u16string> parts = SplitParts(path.substr(2));
    root = u"\\\\" + parts[0] + (parts.size() > 1 ? u"\\" + parts[1] : u"");
    for (std::size_t i = 2; i < parts.size(); ++i) {
      rest += u"\\" + parts[i];
    }
  } else if (IsDrive(path)) {
    root = path.substr(0, 2);
    rest = path.substr(2);
    const bool sameDrive = IsDrive(CurrentDirectory) && Upper(CurrentDirectory[0]) == Upper(path[0]);
    if (!rest.empty() && rest[0] != u'\\' && rest[0] != u'/' && sameDrive) {
      rest = CurrentDirectory.substr(2) + u"\\" + rest;
    }
  } else if (leadingSlash) {
    root = CurrentDirectory.substr(0, 2);
    rest = path;
  } else {
    root = CurrentDirectory.substr(0, 2);
    rest = CurrentDirectory.substr(2) + u"\\" + path;
  }
  std::vector<std::u16string> kept;
  for (std::u16string part : SplitParts(rest)) {
    if (part != u"." && part != u"..") {
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) {
        part.pop_back();
      }
    }
    if (part.empty() || part == u".") {
      continue;
    }
    if (part == u"..") {
      if (!kept.empty()) {
        kept.pop_back();
      }
      continue;
    }
    kept.push_back(part);
  }
  std::u16string full = root;
  for (const std::u16string& part : kept) {
    full += u"\\" + part;
  }
  return full;
}

std::u16string FakeFileSystem::KeyOf(const std::u16string& fullPath) {
  std::u16string key = fullPath;
  for (char16_t& c : key) {
    c = Upper(c);
  }
  return key;
}

bool FakeFileSystem::ParentExists(const std::u16string& fullPath) const {
  const std::size_t slash = fullPath.rfind(u'\\');
  if (slash == std::u16string::npos) {
    return false;
  }
  const std::u16string parent = fullPath.substr(0, slash);
  return (IsDrive(parent) && parent.size() == 2) || Folders.contains(KeyOf(parent));
}

bool FakeFileSystem::IsDevicePath(const std::u16string& path) {
  return path.size() > 4 && (path[0] == u'\\' || path[0] == u'/') && (path[1] == u'\\' || path[1] == u'/') &&
         path[2] == u'.' && (path[3] == u'\\' || path[3] == u'/');
}

// Each handle on the file, this process's and others', must share what the
// new one asks for, and the new one must share what each of them has.
bool FakeFileSystem::SharingAllows(const std::u16string& key, sys::Dword access, sys::Dword share) const {
  const auto compatible = [&](const OpenFile& other) {
    const auto shares = [](sys::Dword wanted, sys::Dword shared) {
      return ((wanted & sys::kGenericRead) == 0 || (shared & sys::kFileShareRead) != 0) &&
             ((wanted & sys::kGenericWrite) == 0 || (shared & sys::kFileShareWrite) != 0);
    };
    return other.Key != key || (shares(access, other.Share) && shares(other.Access, share));
  };
  for (const auto& [handle, open] : Handles) {
    if (!compatible(open)) {
      return false;
    }
  }
  for (const OpenFile& open : HeldByOthers) {
    if (!compatible(open)) {
      return false;
    }
  }
  return true;
}

sys::FileHandle FakeFileSystem::NewHandle(OpenFile open) {
  const sys::FileHandle handle = NextHandle++;
  Handles[handle] = std::move(open);
  return handle;
}

bool FakeFileSystem::Fail(sys::Dword error) {
  LastError = error;
  return false;
}

bool FakeFileSystem::TakeSpace(std::uint64_t needed, std::uint64_t released) {
  if (!FreeSpace) {
    return true;
  }
  if (needed > *FreeSpace + released) {
    return false;
  }
  *FreeSpace = *FreeSpace + released - needed;
  return true;
}

void FakeFileSystem::AddFolder(const std::u16string& path) {
  const std::u16string full = FullPath(path);
  std::u16string partial = full.substr(0, full.find(u'\\'));
  for (std::size_t at = full.find(u'\\'); at != std::u16string::npos;) {
    const std::size_t next = full.find(u'\\', at + 1);
    partial = full.substr(0, next);
    Folders[KeyOf(partial)] = partial;
    at = next;
  }
}

void FakeFileSystem::HoldOpen(const std::u16string& path, sys::Dword access, sys::Dword share) {
  HeldByOthers.push_back({KeyOf(FullPath(path)), access, share, 0, false});
}

void FakeFileSystem::AddDevice(const std::u16string& path) { Devices.insert(KeyOf(path)); }

void FakeFileSystem::RemoveDevice(const std::u16string& path) { Devices.erase(KeyOf(path)); }

sys::FileHandle FakeFileSystem::OpenDevice(const std::u16string& path) {
  if (!Devices.contains(KeyOf(path))) {
    Fail(sys::kErrorFileNotFound);
    return sys::kInvalidHandleValue;
  }
  if (Log != nullptr) {
    Log->Add("open " + Narrow(path));
  }
  return NewHandle({KeyOf(path), 0, 0, 0, true});
}

void FakeFileSystem::AddFile(const std::u16string& path, const std::string& data) {
  const std::u16string full = FullPath(path);
  AddFolder(full.substr(0, full.rfind(u'\\')));
  Files[KeyOf(full)] = {full, File{data, {}, {}, {}}};
}

bool FakeFileSystem::FolderExists(const std::u16string& path) const {
  const std::u16string full = FullPath(path);
  return (IsDrive(full) && full.size() == 2) || Folders.contains(KeyOf(full));
}

const FakeFileSystem::File* FakeFileSystem::FindFile(const std::u16string& path) const {
  auto it = Files.find(KeyOf(FullPath(path)));
  return it == Files.end() ? nullptr : &it->second.second;
}

std::vector<std::u16string> FakeFileSystem::AllFiles() const {
  std::vector<std::u16string> all;
  for (const auto& [key, entry] : Files) {
    all.push_back(entry.first);
  }
  return all;
}

std::vector<std::u16string> FakeFileSystem::AllFolders() const {
  std::vector<std::u16string> all;
  for (const auto& [key, path] : Folders) {
    all.push_back(path);
  }
  return all;
}

sys::FileHandle FakeFileSystem::CreateFileA(const std::string& path, sys::Dword access, sys::Dword share,
                                            sys::Dword disposition, sys::Dword flagsAndAttributes) {
  return CreateFileW(FromAnsi(path), access, share, disposition, flagsAndAttributes);
}

sys::FileHandle FakeFileSystem::CreateFileW(const std::u16string& path, sys::Dword access, sys::Dword share,
                                            sys::Dword disposition, sys::Dword) {
  if (IsDevicePath(path)) {
    return OpenDevice(path);
  }
  const std::u16string full = FullPath(path);
  if (path.empty() || HasInvalidCharacter(full)) {
    Fail(path.empty() ? sys::kErrorPathNotFound : kErrorInvalidName);
    return sys::kInvalidHandleValue;
  }
  const std::u16string key = KeyOf(full);
  if (Folders.contains(key) || full.find(u'\\') == std::u16string::npos) {
    Fail(sys::kErrorAccessDenied);
    return sys::kInvalidHandleValue;
  }
  if (!ParentExists(full)) {
    Fail(sys::kErrorPathNotFound);
    return sys::kInvalidHandleValue;
  }
  auto it = Files.find(key);
  if (disposition != sys::kOpenExisting && disposition != sys::kCreateAlways) {
    Fail(sys::kErrorInvalidParameter);
    return sys::kInvalidHandleValue;
  }
  if (it != Files.end() && !SharingAllows(key, access, share)) {
    Fail(sys::kErrorSharingViolation);
    return sys::kInvalidHandleValue;
  }
  if (disposition == sys::kOpenExisting) {
    if (it == Files.end()) {
      Fail(sys::kErrorFileNotFound);
      return sys::kInvalidHandleValue;
    }
    if (Log != nullptr) {
      Log->Add("open " + Narrow(full));
    }
  } else {
    if (it == Files.end()) {
      Files[key] = {full, File{}};
    } else {
      TakeSpace(0, it->second.second.Data.size());
      it->second.second.Data.clear();
    }
    if (Log != nullptr) {
      Log->Add("create " + Narrow(full));
    }
  }
  return NewHandle({key, access, share, 0, false});
}

FakeFileSystem::OpenFile* FakeFileSystem::FileOpenFor(sys::FileHandle file, sys::Dword access) {
  const auto it = Handles.find(file);
  if (it == Handles.end()) {
    Fail(sys::kErrorInvalidHandle);
    return nullptr;
  }
  if (it->second.Device) {
    Fail(sys::kErrorInvalidFunction);
    return nullptr;
  }
  if ((it->second.Access & access) == 0) {
    Fail(sys::kErrorAccessDenied);
    return nullptr;
  }
  return &it->second;
}

bool FakeFileSystem::ReadFile(sys::FileHandle file, void* buffer, sys::Dword size, sys::Dword* read) {
  *read = 0;
  OpenFile* const found = FileOpenFor(file, sys::kGenericRead);
  if (found == nullptr) {
    return false;
  }
  OpenFile& open = *found;
  const std::string& data = Files[open.Key].second.Data;
  const std::size_t position = std::min(open.Position, data.size());
  const std::size_t count = std::min<std::size_t>(size, data.size() - position);
  if (count > 0) {
    std::memcpy(buffer, data.data() + position, count);
  }
  open.Position = position + count;
  *read = static_cast<sys::Dword>(count);
  return true;
}

bool FakeFileSystem::WriteFile(sys::FileHandle file, const void* data, sys::Dword size, sys::Dword* written) {
  *written = 0;
  OpenFile* const found = FileOpenFor(file, sys::kGenericWrite);
  if (found == nullptr) {
    return false;
  }
  OpenFile& open = *found;
  std::string& content = Files[open.Key].second.Data;
  const std::uint64_t end = std::uint64_t{open.Position} + size;
  if (!TakeSpace(end > content.size() ? end - content.size() : 0, 0)) {
    return Fail(kErrorDiskFull);
  }
  if (content.size() < end) {
    content.resize(static_cast<std::size_t>(end));
  }
  if (size > 0) {
    std::memcpy(content.data() + open.Position, data, size);
  }
  open.Position += size;
  *written = size;
  return true;
}

bool FakeFileSystem::GetFileSizeEx(sys::FileHandle file, std::uint64_t* size) {
  auto it = Handles.find(file);
  if (it == Handles.end()) {
    return Fail(sys::kErrorInvalidHandle);
  }
  if (it->second.Device) {
    return Fail(sys::kErrorInvalidFunction);
  }
  *size = Files[it->second.Key].second.Data.size();
  return true;
}

bool FakeFileSystem::DeviceIoControl(sys::FileHandle device, sys::Dword, const void*, sys::Dword, void*, sys::Dword,
                                     sys::Dword* returned) {
  if (returned != nullptr) {
    *returned = 0;
  }
  // A file, like a device here, answers no control code.
  return Fail(Handles.contains(device) ? sys::kErrorInvalidFunction : sys::kErrorInvalidHandle);
}

bool FakeFileSystem::SetFileTime(sys::FileHandle file, const sys::FileTime* creation, const sys::FileTime* lastAccess,
                                 const sys::FileTime* lastWrite) {
  auto it = Handles.find(file);
  if (it == Handles.end()) {
    return Fail(sys::kErrorInvalidHandle);
  }
  if (it->second.Device) {
    return Fail(sys::kErrorInvalidFunction);
  }
  File& target = Files[it->second.Key].second;
  if (creation != nullptr) {
    target.CreationTime = *creation;
  }
  if (lastAccess != nullptr) {
    target.LastAccessTime = *lastAccess;
  }
  if (lastWrite != nullptr) {
    target.LastWriteTime = *lastWrite;
  }
  return true;
}

bool FakeFileSystem::CloseHandle(sys::FileHandle handle) {
  if (Handles.erase(handle) == 0) {
    return Fail(sys::kErrorInvalidHandle);
  }
  return true;
}

sys::Dword FakeFileSystem::GetFileAttributesA(const std::string& path) {
  const std::u16string key = KeyOf(FullPath(FromAnsi(path)));
  if (Folders.contains(key) || (IsDrive(key) && key.size() == 2)) {
    return sys::kFileAttributeDirectory;
  }
  if (Files.contains(key)) {
    return kFileAttributeArchive;
  }
  Fail(sys::kErrorFileNotFound);
  return sys::kInvalidFileAttributes;
}

bool FakeFileSystem::GetFileAttributesExW(const std::u16string& path, sys::FileAttributeData* data) {
  const std::u16string key = KeyOf(FullPath(path));
  if (Folders.contains(key)) {
    *data = {};
    data->FileAttributes = sys::kFileAttributeDirectory;
    return true;
  }
  auto it = Files.find(key);
  if (it == Files.end()) {
    return Fail(sys::kErrorFileNotFound);
  }
  const File& file = it->second.second;
  *data = {kFileAttributeArchive, file.CreationTime, file.LastAccessTime, file.LastWriteTime, file.Data.size()};
  return true;
}

bool FakeFileSystem::CreateDirectoryA(const std::string& path) { return CreateDirectoryW(FromAnsi(path)); }

bool FakeFileSystem::CreateDirectoryW(const std::u16string& path) {
  const std::u16string full = FullPath(path);
  if (path.empty() || HasInvalidCharacter(full)) {
    return Fail(path.empty() ? sys::kErrorPathNotFound : kErrorInvalidName);
  }
  const std::u16string key = KeyOf(full);
  if (full.find(u'\\') == std::u16string::npos) {
    return Fail(sys::kErrorAccessDenied);  // a drive or share root
  }
  if (Folders.contains(key) || Files.contains(key)) {
    return Fail(sys::kErrorAlreadyExists);
  }
  if (!ParentExists(full)) {
    return Fail(sys::kErrorPathNotFound);
  }
  Folders[key] = full;
  if (Log != nullptr) {
    Log->Add("mkdir " + Narrow(full));
  }
  return true;
}

bool FakeFileSystem::MoveFileA(const std::string& existing, const std::string& target) {
  const std::u16string from = FullPath(FromAnsi(existing));
  const std::u16string to = FullPath(FromAnsi(target));
  const std::u16string fromKey = KeyOf(from);
  const std::u16string toKey = KeyOf(to);
  const bool isFolder = Folders.contains(fromKey);
  if (existing.empty() || (!isFolder && !Files.contains(fromKey))) {
    return Fail(sys::kErrorFileNotFound);
  }
  if (HasInvalidCharacter(to)) {
    return Fail(kErrorInvalidName);
  }
  if (Folders.contains(toKey) || Files.contains(toKey)) {
    return Fail(sys::kErrorAlreadyExists);
  }
  if (!ParentExists(to)) {
    return Fail(sys::kErrorPathNotFound);
  }
  const auto inside = [&fromKey](const std::u16string& key) {
    return key == fromKey || key.starts_with(fromKey + u"\\");
  };
  // The system refuses to move a folder into itself or one with an open file.
  const bool openInside =
      std::any_of(Handles.begin(), Handles.end(), [&](const auto& h) { return inside(h.second.Key); }) ||
      std::any_of(HeldByOthers.begin(), HeldByOthers.end(), [&](const OpenFile& h) { return inside(h.Key); });
  if (inside(toKey) || openInside) {
    return Fail(sys::kErrorAccessDenied);
  }
  const auto moved = [&](const std::u16string& path) { return to + path.substr(from.size()); };
  std::map<std::u16string, std::u16string> folders;
  for (const auto& [key, path] : Folders) {
    const std::u16string now = inside(key) ? moved(path) : path;
    folders[KeyOf(now)] = now;
  }
  std::map<std::u16string, std::pair<std::u16string, File>> files;
  for (const auto& [key, entry] : Files) {
    const std::u16string now = inside(key) ? moved(entry.first) : entry.first;
    files[KeyOf(now)] = {now, entry.second};
  }
  Folders = std::move(folders);
  Files = std::move(files);
  if (Log != nullptr) {
    Log->Add("move " + Narrow(from) + " -> " + Narrow(to));
  }
  return true;
}

int FakeFileSystem::ListDirectory(const std::string& path, std::vector<std::string>* names) {
  constexpr int kNoEntry = 2;      // ENOENT
  constexpr int kNotAFolder = 20;  // ENOTDIR
  const std::u16string key = KeyOf(FullPath(FromAnsi(path)));
  if (!Folders.contains(key)) {
    return Files.contains(key) ? kNotAFolder : kNoEntry;
  }
  names->assign({".", ".."});
  const auto addChild = [&](const std::u16string& childKey, const std::u16string& childPath) {
    if (childKey.starts_with(key + u"\\") && childKey.find(u'\\', key.size() + 1) == std::u16string::npos) {
      names->push_back(Narrow(childPath.substr(childPath.rfind(u'\\') + 1)));
    }
  };
  // One listing in name order, folders and files together, as NTFS lists them.
  std::map<std::u16string, std::u16string> children;
  for (const auto& [childKey, childPath] : Folders) {
    children[childKey] = childPath;
  }
  for (const auto& [childKey, entry] : Files) {
    children[childKey] = entry.first;
  }
  for (const auto& [childKey, childPath] : children) {
    addChild(childKey, childPath);
  }
  return 0;
}

bool FakeFileSystem::CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) {
  auto source = Files.find(KeyOf(FullPath(existing)));
  if (source == Files.end()) {
    return Fail(sys::kErrorFileNotFound);
  }
  const std::u16string full = FullPath(target);
  const std::u16string key = KeyOf(full);
  if (HasInvalidCharacter(full)) {
    return Fail(kErrorInvalidName);
  }
  if (Folders.contains(key)) {
    return Fail(sys::kErrorAccessDenied);
  }
  if (!ParentExists(full)) {
    return Fail(sys::kErrorPathNotFound);
  }
  if (failIfExists && Files.contains(key)) {
    return Fail(kErrorFileExists);
  }
  const File copy = source->second.second;
  const auto replaced = Files.find(key);
  if (!TakeSpace(copy.Data.size(), replaced == Files.end() ? 0 : replaced->second.second.Data.size())) {
    return Fail(kErrorDiskFull);
  }
  Files[key] = {full, copy};
  if (Log != nullptr) {
    Log->Add("copy " + Narrow(source->second.first) + " -> " + Narrow(full));
  }
  return true;
}

bool FakeFileSystem::DeleteFileW(const std::u16string& path) {
  const std::u16string key = KeyOf(FullPath(path));
  if (Folders.contains(key)) {
    return Fail(sys::kErrorAccessDenied);
  }
  auto file = Files.find(key);
  if (path.empty() || file == Files.end()) {
    return Fail(ParentExists(FullPath(path)) ? sys::kErrorFileNotFound : sys::kErrorPathNotFound);
  }
  // The program opens its files without sharing deletion.
  if (std::any_of(Handles.begin(), Handles.end(), [&key](const auto& h) { return h.second.Key == key; })) {
    return Fail(sys::kErrorSharingViolation);
  }
  TakeSpace(0, file->second.second.Data.size());
  if (Log != nullptr) {
    Log->Add("delete " + Narrow(file->second.first));
  }
  Files.erase(file);
  return true;
}

bool FakeFileSystem::DeleteAtRestart(const std::u16string& path) {
  const std::u16string full = FullPath(path);
  const std::u16string key = KeyOf(full);
  if (path.empty() || (!Files.contains(key) && !Folders.contains(key))) {
    return Fail(ParentExists(full) ? sys::kErrorFileNotFound : sys::kErrorPathNotFound);
  }
  DeletedAtRestart.push_back(full);
  if (Log != nullptr) {
    Log->Add("delete at restart " + Narrow(full));
  }
  return true;
}

bool FakeFileSystem::RemoveDirectoryW(const std::u16string& path) {
  const std::u16string key = KeyOf(FullPath(path));
  auto folder = Folders.find(key);
  if (path.empty() || folder == Folders.end()) {
    return Fail(Files.contains(key)            ? sys::kErrorDirectory
                : ParentExists(FullPath(path)) ? sys::kErrorFileNotFound
                                               : sys::kErrorPathNotFound);
  }
  const auto inside = [&key](const std::u16string& other) { return other.starts_with(key + u"\\"); };
  if (std::any_of(Folders.begin(), Folders.end(), [&](const auto& f) { return inside(f.first); }) ||
      std::any_of(Files.begin(), Files.end(), [&](const auto& f) { return inside(f.first); })) {
    return Fail(sys::kErrorDirNotEmpty);
  }
  if (Log != nullptr) {
    Log->Add("rmdir " + Narrow(folder->second));
  }
  Folders.erase(folder);
  return true;
}

bool FakeFileSystem::DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, sys::FileTime* fileTime) {
  const unsigned day = fatDate & 0x1F;
  const unsigned month = (fatDate >> 5) & 0x0F;
  const unsigned year = 1980 + (fatDate >> 9);
  const unsigned seconds = (fatTime & 0x1F) * 2;
  const unsigned minutes = (fatTime >> 5) & 0x3F;
  const unsigned hours = fatTime >> 11;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hours > 23 || minutes > 59 ||
      seconds > 59) {
    return Fail(sys::kErrorInvalidParameter);
  }
  const std::int64_t secondsSince1601 = DaysSince1601(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
  *fileTime = ToFileTime(secondsSince1601 * kTicksPerSecond);
  return true;
}

bool FakeFileSystem::LocalFileTimeToFileTime(const sys::FileTime& localTime, sys::FileTime* fileTime) {
  *fileTime = ToFileTime(Ticks(localTime) + std::int64_t{TimeZoneBiasMinutes} * 60 * kTicksPerSecond);
  return true;
}

}  // namespace kestrune::sim
