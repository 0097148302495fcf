#include "update/Download.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "sys/Files.h"
#include "sys/Internet.h"
#include "sys/ProcessEnvironment.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

constexpr int kAttempts = 4;
constexpr sys::Dword kPauseBetweenAttemptsMs = 1000;
constexpr int kHeaderQueries = 4;
constexpr int kEmptyReadsThatEnd = 4;
constexpr sys::Dword kChunkSize = 1024;
constexpr sys::Dword kLengthTextSize = 32;
constexpr sys::Dword kOpenUrlFlags =
    sys::kInternetFlagReload | sys::kInternetFlagNoCacheWrite | sys::kInternetFlagPragmaNoCache;

class HeapBodyAllocator : public IBodyAllocator {
 public:
  void* AllocateZeroed(std::size_t size) override { return std::calloc(size, 1); }
};

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

void* AllocateBody(std::size_t size) {
  static HeapBodyAllocator heap;
  IBodyAllocator& allocator =
      sys::Seam<IBodyAllocator>::Installed() ? sys::Use<IBodyAllocator>() : static_cast<IBodyAllocator&>(heap);
  return allocator.AllocateZeroed(size);
}

// The leading decimal number of a header text as the C library's atol reads
// it (white space, a sign, digits), held to the 32-bit range of a Windows
// long instead of overflowing.
std::int32_t LeadingNumber(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
    ++p;
  }
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = std::min(value * 10 + (*p - '0'), kLimit);
  }
  value = negative ? -value : std::min(value, kLimit - 1);
  return static_cast<std::int32_t>(std::max<std::int64_t>(value, std::numeric_limits<std::int32_t>::min()));
}

// The status code of the answer: 200 as soon as one query reads it,
// otherwise the last one read (0 when none could be).
sys::Dword StatusCode(sys::IInternet& internet, sys::InternetHandle request) {
  sys::Dword last = 0;
  for (int query = 0; query < kHeaderQueries && last != 200; ++query) {
    sys::Dword status = 0;
    sys::Dword size = sizeof status;
    if (internet.HttpQueryInfoA(request, sys::kHttpQueryStatusCode | sys::kHttpQueryFlagNumber, &status, &size,
                                nullptr)) {
      last = status;
    }
  }
  return last;
}

std::int32_t AnnouncedLength(sys::IInternet& internet, sys::InternetHandle request) {
  std::int32_t length = 0;
  for (int query = 0; query < kHeaderQueries && length == 0; ++query) {
    // One byte more than the query may fill keeps the text terminated.
    std::array<char, kLengthTextSize + 1> text{};
    sys::Dword size = kLengthTextSize;
    if (internet.HttpQueryInfoA(request, sys::kHttpQueryContentLength, text.data(), &size, nullptr)) {
      length = LeadingNumber(text.data());
    }
  }
  return length;
}

bool TryDownload(const std::string& url, const std::string& fileName, DownloadAttempt& attempt) {
  sys::IInternet& internet = sys::Use<sys::IInternet>();
  sys::UniqueInternetHandle session(internet.InternetOpenA("", sys::kInternetOpenTypeDirect, nullptr, nullptr, 0));
  if (!session.Valid()) {
    return false;
  }
  sys::UniqueInternetHandle request(internet.InternetOpenUrlA(session.Get(), url, nullptr, 0, kOpenUrlFlags, 0));
  if (!request.Valid()) {
    return false;
  }
  attempt.HttpStatus = StatusCode(internet, request.Get());
  if (attempt.HttpStatus != 200) {
    return false;
  }
  // No usable length (missing, not a number, zero or negative): nothing to
  // size the body by, and no file is created.
  const std::int32_t announced = AnnouncedLength(internet, request.Get());
  attempt.Announced = announced;
  if (announced <= 0) {
    return false;
  }
  const auto length = static_cast<std::size_t>(announced);

  sys::IFiles& files = sys::Use<sys::IFiles>();
  sys::UniqueFileHandle file(
      files.CreateFileA(fileName, sys::kGenericWrite, 0, sys::kCreateAlways, sys::kFileAttributeNormal));
  if (!file.Valid()) {
    return false;
  }
  std::unique_ptr<std::uint8_t, FreeDeleter> body(static_cast<std::uint8_t*>(AllocateBody(length)));
  if (!body) {
    return false;
  }

  std::array<std::uint8_t, kChunkSize> chunk{};
  std::size_t received = 0;
  bool overrun = false;
  for (int emptyReads = 0; emptyReads < kEmptyReadsThatEnd;) {
    sys::Dword read = 0;
    internet.InternetReadFile(request.Get(), chunk.data(), kChunkSize, &read);
    read = std::min(read, kChunkSize);
    if (read == 0) {
      if (++emptyReads < kEmptyReadsThatEnd) {
        sys::Use<sys::IProcessEnvironment>().Sleep(0);
      }
      continue;
    }
    emptyReads = 0;
    // More than announced: keep what fits, stop, and fail the attempt.
    const std::size_t fits = std::min<std::size_t>(read, length - received);
    std::memcpy(body.get() + received, chunk.data(), fits);
    received += fits;
    if (fits < read) {
      overrun = true;
      break;
    }
  }

  // A write that fails or stores less than it was given (a full disk) fails
  // the attempt as a short body does: the file keeps what reached it, the
  // next attempt truncates it, and the false answer keeps the run from
  // using it.
  sys::Dword written = 0;
  const bool stored =
      files.WriteFile(file.Get(), body.get(), static_cast<sys::Dword>(received), &written) && written == received;
  attempt.Stored = written;
  file.Reset();
  request.Reset();
  session.Reset();
  body.reset();
  return stored && !overrun && received == length;
}

}  // namespace

bool DownloadFileSync(const std::string& url, const std::string& fileName, std::vector<DownloadAttempt>* attempts) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    DownloadAttempt met;
    const bool stored = TryDownload(url, fileName, met);
    if (attempts != nullptr) {
      attempts->push_back(met);
    }
    if (stored) {
      return true;
    }
    if (attempt < kAttempts) {
      sys::Use<sys::IProcessEnvironment>().Sleep(kPauseBetweenAttemptsMs);
    }
  }
  return false;
}

}  // namespace kestrune
