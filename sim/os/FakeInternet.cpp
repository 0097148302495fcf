#include "sim/os/FakeInternet.h"

#include <algorithm>
#include <cstring>

namespace kestrune::sim {

namespace {

template <class T>
const T* Nth(const std::vector<T>& answers, std::size_t index) {
  if (answers.empty()) {
    return nullptr;
  }
  return &answers[std::min(index, answers.size() - 1)];
}

}  // namespace

FakeInternet::Response FakeInternet::Ok(const std::string& body, std::size_t chunk) {
  Response response;
  response.Lengths = {std::to_string(body.size())};
  for (std::size_t at = 0; at < body.size(); at += chunk) {
    response.Reads.push_back({body.substr(at, chunk), true});
  }
  return response;
}

sys::InternetHandle FakeInternet::InternetOpenA(const std::string& agent, sys::Dword accessType, const char* proxy,
                                                const char* proxyBypass, sys::Dword flags) {
  Sessions.push_back({agent, accessType, proxy != nullptr, proxyBypass != nullptr, flags});
  Calls.push_back("session");
  if (SessionFails) {
    return sys::kNullInternetHandle;
  }
  const sys::InternetHandle handle = NextHandle++;
  Handles[handle] = Open{};
  return handle;
}

sys::InternetHandle FakeInternet::InternetOpenUrlA(sys::InternetHandle internet, const std::string& url,
                                                   const char* headers, sys::Dword headersLength, sys::Dword flags,
                                                   std::uintptr_t context) {
  Requests.push_back({url, headers != nullptr, headersLength, flags, context});
  Calls.push_back("open " + url);
  auto session = Handles.find(internet);
  auto script = Responses.find(url);
  if (session == Handles.end() || !session->second.Session || script == Responses.end()) {
    return sys::kNullInternetHandle;
  }
  const Response* answer = Nth(script->second, Openings[url]++);
  if (answer == nullptr || answer->OpenFails) {
    return sys::kNullInternetHandle;
  }
  const sys::InternetHandle handle = NextHandle++;
  Handles[handle] = Open{false, *answer};
  return handle;
}

bool FakeInternet::HttpQueryInfoA(sys::InternetHandle request, sys::Dword infoLevel, void* buffer,
                                  sys::Dword* bufferLength, sys::Dword*) {
  Calls.push_back("query " + std::to_string(infoLevel));
  auto it = Handles.find(request);
  if (it == Handles.end() || it->second.Session) {
    return false;
  }
  Open& open = it->second;
  if (infoLevel == (sys::kHttpQueryStatusCode | sys::kHttpQueryFlagNumber)) {
    const auto* status = Nth(open.Answer.Statuses, open.StatusQueries++);
    if (status == nullptr || !status->has_value() || *bufferLength < sizeof(sys::Dword)) {
      return false;
    }
    const sys::Dword value = **status;
    std::memcpy(buffer, &value, sizeof value);
    *bufferLength = sizeof value;
    return true;
  }
  if (infoLevel == sys::kHttpQueryContentLength) {
    const auto* length = Nth(open.Answer.Lengths, open.LengthQueries++);
    if (length == nullptr || !length->has_value()) {
      return false;
    }
    const std::string& text = **length;
    if (text.size() + 1 > *bufferLength) {
      *bufferLength = static_cast<sys::Dword>(text.size() + 1);
      return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *bufferLength = static_cast<sys::Dword>(text.size());
    return true;
  }
  return false;
}

bool FakeInternet::InternetReadFile(sys::InternetHandle file, void* buffer, sys::Dword bytesToRead,
                                    sys::Dword* bytesRead) {
  Calls.push_back("read " + std::to_string(bytesToRead));
  *bytesRead = 0;
  auto it = Handles.find(file);
  if (it == Handles.end() || it->second.Session) {
    return false;
  }
  Open& open = it->second;
  if (open.ReadIndex >= open.Answer.Reads.size()) {
    return true;
  }
  const Read& read = open.Answer.Reads[open.ReadIndex];
  const std::size_t count = std::min<std::size_t>(bytesToRead, read.Bytes.size() - open.ReadOffset);
  std::memcpy(buffer, read.Bytes.data() + open.ReadOffset, count);
  open.ReadOffset += count;
  if (open.ReadOffset >= read.Bytes.size()) {
    ++open.ReadIndex;
    open.ReadOffset = 0;
  }
  *bytesRead = static_cast<sys::Dword>(count);
  return read.Result;
}

bool FakeInternet::InternetCloseHandle(sys::InternetHandle handle) {
  auto it = Handles.find(handle);
  if (it == Handles.end()) {
    return false;
  }
  Calls.push_back(it->second.Session ? "close session" : "close request");
  Handles.erase(it);
  return true;
}

bool FakeInternet::DeleteUrlCacheEntryA(const std::string& url) {
  EvictedUrls.push_back(url);
  return true;
}

}  // namespace kestrune::sim
