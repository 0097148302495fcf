// The WinInet HTTP client: an Internet session, a URL opened on it, its
// response headers and body, and the local URL cache.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Seam.h"
#include "sys/UniqueAny.h"
#include "sys/WinTypes.h"

namespace kestrune::sys {

// An HINTERNET; 0 is the null handle.
using InternetHandle = std::uintptr_t;
inline constexpr InternetHandle kNullInternetHandle = 0;

inline constexpr Dword kInternetOpenTypeDirect = 1;
inline constexpr Dword kInternetFlagReload = 0x80000000;
inline constexpr Dword kInternetFlagNoCacheWrite = 0x04000000;
inline constexpr Dword kInternetFlagPragmaNoCache = 0x00000100;
inline constexpr Dword kHttpQueryContentLength = 5;
inline constexpr Dword kHttpQueryStatusCode = 19;
inline constexpr Dword kHttpQueryFlagNumber = 0x20000000;

class IInternet {
 public:
  virtual ~IInternet() = default;
  // InternetOpenA; proxy and proxyBypass may be null.
  virtual InternetHandle InternetOpenA(const std::string& agent, Dword accessType, const char* proxy,
                                       const char* proxyBypass, Dword flags) = 0;
  // InternetOpenUrlA; headers may be null (then headersLength is 0).
  virtual InternetHandle InternetOpenUrlA(InternetHandle internet, const std::string& url, const char* headers,
                                          Dword headersLength, Dword flags, std::uintptr_t context) = 0;
  // HttpQueryInfoA: *bufferLength is the buffer's size in bytes on entry and
  // the length of the answer on return; index may be null.
  virtual bool HttpQueryInfoA(InternetHandle request, Dword infoLevel, void* buffer, Dword* bufferLength,
                              Dword* index) = 0;
  virtual bool InternetReadFile(InternetHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead) = 0;
  virtual bool InternetCloseHandle(InternetHandle handle) = 0;
  virtual bool DeleteUrlCacheEntryA(const std::string& url) = 0;
};

inline void CloseInternetHandle(InternetHandle handle) { Use<IInternet>().InternetCloseHandle(handle); }

// An Internet handle, closed when the object goes.
using UniqueInternetHandle = UniqueAny<InternetHandle, kNullInternetHandle, CloseInternetHandle>;

}  // namespace kestrune::sys
