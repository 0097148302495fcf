// The WinInet adapter.
#pragma once

#include "sys/Internet.h"

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

}  // namespace kestrune::sys::win32
