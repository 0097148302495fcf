#include "sys/win32/Win32Internet.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include "sys/win32/SystemLibrary.h"

namespace kestrune::sys::win32 {

namespace {

// WinInet, loaded from the system folder at the first request, after the
// program has restricted where libraries come from; kept until the process
// ends.
struct Functions {
  SystemLibrary Library{L"wininet.dll"};
  decltype(&::InternetOpenA) OpenA = Library.Function<decltype(&::InternetOpenA)>("InternetOpenA");
  decltype(&::InternetOpenUrlA) OpenUrlA = Library.Function<decltype(&::InternetOpenUrlA)>("InternetOpenUrlA");
  decltype(&::HttpQueryInfoA) QueryInfoA = Library.Function<decltype(&::HttpQueryInfoA)>("HttpQueryInfoA");
  decltype(&::InternetReadFile) ReadFile = Library.Function<decltype(&::InternetReadFile)>("InternetReadFile");
  decltype(&::InternetCloseHandle) CloseHandle =
      Library.Function<decltype(&::InternetCloseHandle)>("InternetCloseHandle");
  decltype(&::DeleteUrlCacheEntryA) DeleteCacheEntryA =
      Library.Function<decltype(&::DeleteUrlCacheEntryA)>("DeleteUrlCacheEntryA");
};

const Functions& WinInet() {
  static const Functions functions;
  return functions;
}

// A function the library lacks fails the call as the system would.
template <class F>
bool Present(F function) {
  if (function == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  return true;
}

HINTERNET ToInternet(InternetHandle handle) { return reinterpret_cast<HINTERNET>(handle); }

InternetHandle FromInternet(HINTERNET handle) { return reinterpret_cast<InternetHandle>(handle); }

}  // namespace

InternetHandle Win32Internet::InternetOpenA(const std::string& agent, Dword accessType, const char* proxy,
                                            const char* proxyBypass, Dword flags) {
  const auto open = WinInet().OpenA;
  if (!Present(open)) {
    return FromInternet(nullptr);
  }
  return FromInternet(open(agent.c_str(), accessType, proxy, proxyBypass, flags));
}

InternetHandle Win32Internet::InternetOpenUrlA(InternetHandle internet, const std::string& url, const char* headers,
                                               Dword headersLength, Dword flags, std::uintptr_t context) {
  const auto open = WinInet().OpenUrlA;
  if (!Present(open)) {
    return FromInternet(nullptr);
  }
  return FromInternet(open(ToInternet(internet), url.c_str(), headers, headersLength, flags, context));
}

bool Win32Internet::HttpQueryInfoA(InternetHandle request, Dword infoLevel, void* buffer, Dword* bufferLength,
                                   Dword* index) {
  const auto query = WinInet().QueryInfoA;
  if (!Present(query)) {
    return false;
  }
  DWORD length = *bufferLength;
  DWORD position = index != nullptr ? *index : 0;
  const BOOL ok = query(ToInternet(request), infoLevel, buffer, &length, index != nullptr ? &position : nullptr);
  *bufferLength = length;
  if (index != nullptr) {
    *index = position;
  }
  return ok != FALSE;
}

bool Win32Internet::InternetReadFile(InternetHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead) {
  const auto read = WinInet().ReadFile;
  if (!Present(read)) {
    return false;
  }
  DWORD count = 0;
  const BOOL ok = read(ToInternet(file), buffer, bytesToRead, &count);
  *bytesRead = count;
  return ok != FALSE;
}

bool Win32Internet::InternetCloseHandle(InternetHandle handle) {
  const auto close = WinInet().CloseHandle;
  return Present(close) && close(ToInternet(handle)) != FALSE;
}

bool Win32Internet::DeleteUrlCacheEntryA(const std::string& url) {
  const auto remove = WinInet().DeleteCacheEntryA;
  return Present(remove) && remove(url.c_str()) != FALSE;
}

}  // namespace kestrune::sys::win32
