// Adapters of the update pipeline's services: WinInet, files and folders by
// name, shell automation and the user's locale.
#pragma once

#include "sys/FileSystem.h"
#include "sys/Internet.h"
#include "sys/Locale.h"
#include "sys/Shell.h"

namespace kestrune::sys::win32 {

class Win32Internet : public IInternet {
 public:
  InternetHandle InternetOpenA(const std::string& agent, Dword accessType, const char* proxy, const char* proxyBypass,
                               Dword flags) override;
  InternetHandle InternetOpenUrlA(InternetHandle internet, const std::string& url, const char* headers,
                                  Dword headersLength, Dword flags, std::uintptr_t context) override;
  bool HttpQueryInfoA(InternetHandle request, Dword infoLevel, void* buffer, Dword* bufferLength,
                      Dword* index) override;
  bool InternetReadFile(InternetHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead) override;
  bool InternetCloseHandle(InternetHandle handle) override;
  bool DeleteUrlCacheEntryA(const std::string& url) override;
};

class Win32FileSystem : public IFileSystem {
 public:
  Dword GetFileAttributesA(const std::string& path) override;
  bool GetFileAttributesExW(const std::u16string& path, FileAttributeData* data) override;
  bool CreateDirectoryW(const std::u16string& path) override;
  bool CopyFileW(const std::u16string& existing, const std::u16string& target, bool failIfExists) override;
  bool DosDateTimeToFileTime(std::uint16_t fatDate, std::uint16_t fatTime, FileTime* fileTime) override;
  bool LocalFileTimeToFileTime(const FileTime& localTime, FileTime* fileTime) override;
  Dword GetLastError() override;
};

class Win32Shell : public IShell {
 public:
  HResult CoInitialize() override;
  void CoUninitialize() override;
  HResult CoCreateInstance(const Guid& clsid, Dword context, const Guid& iid, ComObject* object) override;
  HResult NameSpace(ComObject shellDispatch, const std::u16string& path, ComObject* folder) override;
  HResult Items(ComObject folder, ComObject* items) override;
  HResult CopyHere(ComObject folder, ComObject items, std::int32_t options) override;
  void Release(ComObject object) override;
};

class Win32Locale : public ILocale {
 public:
  LangId GetUserDefaultLangID() override;
};

}  // namespace kestrune::sys::win32
