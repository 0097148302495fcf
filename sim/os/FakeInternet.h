// A scripted WinInet: each URL answers from a list of responses, one per
// opening (the last one repeats), and every call is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sys/Internet.h"

namespace kestrune::sim {

class FakeInternet : public sys::IInternet {
 public:
  struct Read {
    std::string Bytes;  // delivered over as many reads as the reader's size needs
    bool Result = true;
  };
  struct Response {
    bool OpenFails = false;
    // One answer per status query, the last repeating; none: the query fails.
    std::vector<std::optional<sys::Dword>> Statuses{200};
    // Content-Length texts per query, the last repeating; none or an empty
    // list: the header is missing and the query fails.
    std::vector<std::optional<std::string>> Lengths;
    // Then every read delivers nothing and succeeds, as at the end of a body.
    std::vector<Read> Reads;
  };
  // 200, the body's length, the body in reads of at most chunk bytes.
  static Response Ok(const std::string& body, std::size_t chunk = 1024);

  std::map<std::string, std::vector<Response>> Responses;  // by URL; unknown URLs cannot be opened
  bool SessionFails = false;

  struct Session {
    std::string Agent;
    sys::Dword AccessType;
    bool Proxy;
    bool ProxyBypass;
    sys::Dword Flags;
  };
  struct Request {
    std::string Url;
    bool Headers;
    sys::Dword HeadersLength;
    sys::Dword Flags;
    std::uintptr_t Context;
  };
  std::vector<Session> Sessions;
  std::vector<Request> Requests;
  // "session", "open <url>", "query <level>", "read <size>", "close request", "close session"
  std::vector<std::string> Calls;
  std::vector<std::string> EvictedUrls;
  std::size_t OpenHandles() const { return Handles.size(); }

  sys::InternetHandle InternetOpenA(const std::string& agent, sys::Dword accessType, const char* proxy,
                                    const char* proxyBypass, sys::Dword flags) override;
  sys::InternetHandle InternetOpenUrlA(sys::InternetHandle internet, const std::string& url, const char* headers,
                                       sys::Dword headersLength, sys::Dword flags, std::uintptr_t context) override;
  bool HttpQueryInfoA(sys::InternetHandle request, sys::Dword infoLevel, void* buffer, sys::Dword* bufferLength,
                      sys::Dword* index) override;
  bool InternetReadFile(sys::InternetHandle file, void* buffer, sys::Dword bytesToRead, sys::Dword* bytesRead) override;
  bool InternetCloseHandle(sys::InternetHandle handle) override;
  bool DeleteUrlCacheEntryA(const std::string& url) override;

 private:
  struct Open {
    bool Session = true;
    Response Answer;
    std::size_t StatusQueries = 0;
    std::size_t LengthQueries = 0;
    std::size_t ReadIndex = 0;
    std::size_t ReadOffset = 0;
  };
  std::map<sys::InternetHandle, Open> Handles;
  std::map<std::string, std::size_t> Openings;
  sys::InternetHandle NextHandle = 0x10;
};

}  // namespace kestrune::sim
