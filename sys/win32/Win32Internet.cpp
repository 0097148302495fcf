#include "sys/win32/Win32Internet.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace kestrune::sys::win32 {

namespace {

HINTERNET ToInternet(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }

InternetHandle FromInternet(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

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

}  // namespace kestrune::sys::win32
