#include "sys/win32/Win32Update.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
#include <ole2.h>
#include <shldisp.h>
// clang-format on

#include <cstring>

namespace kestrune::sys::win32 {

namespace {

HINTERNET ToInternet(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }

InternetHandle FromInternet(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

LPCWSTR Wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

FileTime FromFileTime(const FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

FILETIME ToFileTime(const FileTime& time) {
  FILETIME result;
  result.dwLowDateTime = time.LowDateTime;
  result.dwHighDateTime = time.HighDateTime;
  return result;
}

GUID ToGuid(const Guid& bytes) {
  GUID guid;
  static_assert(sizeof guid == sizeof bytes);
  std::memcpy(&guid, bytes.data(), sizeof guid);
  return guid;
}

// A BSTR owned for the length of one call.
class Bstr {
 public:
  explicit Bstr(const std::u16string& text) : value_(::SysAllocStringLen(Wide(text), static_cast<UINT>(text.size()))) {}
  ~Bstr() { ::SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return value_; }

 private:
  BSTR value_;
};

}  // namespace

InternetHandle Win32Internet::InternetOpenA(const std::string& agent, Dword accessType, const char* proxy,
                                            const char* proxyBypass, Dword flags) {
  return FromInternet(::InternetOpenA(agent.c_str(), accessType, proxy, proxyBypass, flags));
}

InternetHandle Win32Internet::InternetOpenUrlA(InternetHandle internet, const std::string& url, const char* headers,
                                               Dword headersLength, Dword flags, std::uintptr_t context) {
  return FromInternet(::InternetOpenUrlA(ToInternet(internet), url.c_str(), headers, headersLength, flags, context));
}

bool Win32Internet::HttpQueryInfoA(InternetHandle request, Dword infoLevel, void* buffer, Dword* bufferLength,
                                   Dword* index) {
  DWORD length = *bufferLength;
  DWORD position = index != nullptr ? *index : 0;
  const BOOL ok =
      ::HttpQueryInfoA(ToInternet(request), infoLevel, buffer, &length, index != nullptr ? &position : nullptr);
  *bufferLength = length;
  if (index != nullptr) {
    *index = position;
  }
  return ok != FALSE;
}

bool Win32Internet::InternetReadFile(InternetHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead) {
  DWORD count = 0;
  const BOOL ok = ::InternetReadFile(ToInternet(file), buffer, bytesToRead, &count);
  *bytesRead = count;
  return ok != FALSE;
}

bool Win32Internet::InternetCloseHandle(InternetHandle handle) {
  return ::InternetCloseHandle(ToInternet(handle)) != FALSE;
}

bool Win32Internet::DeleteUrlCacheEntryA(const std::string& url) {
  return ::DeleteUrlCacheEntryA(url.c_str()) != FALSE;
}

Dword Win32FileSystem::GetFileAttributesA(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

bool Win32FileSystem::GetFileAttributesExW(const std::u16string& path, FileAttributeData* data) {
  WIN32_FILE_ATTRIBUTE_DATA found{};
  if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &found)) {
    return false;
  }
  data->FileAttributes = found.dwFileAttributes;
  data->CreationTime = FromFileTime(found.ftCreationTime);
  data->LastAccessTime = FromFileTime(found.ftLastAccessTime);
  data->LastWriteTime = FromFileTime(found.ftLastWriteTime);
  data->FileSize = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
  return true;
}

bool Win32FileSystem::CreateDirectoryW(const std::u16string& path) {
  return ::CreateDirectoryW(Wide(path), nullptr) != FALSE;
}

bool Win32FileSystem::CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) {
  return ::CopyFileW(Wide(existing), Wide(target), failIfExists ? TRUE : FALSE) != FALSE;
}

bool Win32FileSystem::DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, FileTime* fileTime) {
  FILETIME result{};
  if (!::DosDateTimeToFileTime(fatDate, fatTime, &result)) {
    return false;
  }
  *fileTime = FromFileTime(result);
  return true;
}

bool Win32FileSystem::LocalFileTimeToFileTime(const FileTime& localTime, FileTime* fileTime) {
  const FILETIME local = ToFileTime(localTime);
  FILETIME result{};
  if (!::LocalFileTimeToFileTime(&local, &result)) {
    return false;
  }
  *fileTime = FromFileTime(result);
  return true;
}

Dword Win32FileSystem::GetLastError() { return ::GetLastError(); }

HResult Win32Shell::CoInitialize() { return ::CoInitialize(nullptr); }

void Win32Shell::CoUninitialize() { ::CoUninitialize(); }

HResult Win32Shell::CoCreateInstance(const Guid& clsid, Dword context, const Guid& iid, ComObject* object) {
  const GUID classId = ToGuid(clsid);
  const GUID interfaceId = ToGuid(iid);
  void* created = nullptr;
  const HRESULT hr = ::CoCreateInstance(classId, nullptr, context, interfaceId, &created);
  *object = reinterpret_cast<ComObject>(created);
  return hr;
}

HResult Win32Shell::NameSpace(ComObject shellDispatch, const std::u16string& path, ComObject* folder) {
  Bstr text(path);
  VARIANT dir;
  ::VariantInit(&dir);
  dir.vt = VT_BSTR;
  dir.bstrVal = text.Get();
  Folder* found = nullptr;
  const HRESULT hr = reinterpret_cast<IShellDispatch*>(shellDispatch)->NameSpace(dir, &found);
  *folder = reinterpret_cast<ComObject>(found);
  return hr;
}

HResult Win32Shell::Items(ComObject folder, ComObject* items) {
  FolderItems* found = nullptr;
  const HRESULT hr = reinterpret_cast<Folder*>(folder)->Items(&found);
  *items = reinterpret_cast<ComObject>(found);
  return hr;
}

HResult Win32Shell::CopyHere(ComObject folder, ComObject items, std::int32_t options) {
  VARIANT item;
  ::VariantInit(&item);
  item.vt = VT_DISPATCH;
  item.pdispVal = reinterpret_cast<FolderItems*>(items);
  VARIANT flags;
  ::VariantInit(&flags);
  flags.vt = VT_I4;
  flags.lVal = options;
  return reinterpret_cast<Folder*>(folder)->CopyHere(item, flags);
}

void Win32Shell::Release(ComObject object) { reinterpret_cast<IUnknown*>(object)->Release(); }

LangId Win32Locale::GetUserDefaultLangID() { return ::GetUserDefaultLangID(); }

}  // namespace kestrune::sys::win32
