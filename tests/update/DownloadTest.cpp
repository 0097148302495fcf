// DownloadFileSync against a scripted WinInet and an in-memory disk.
#include "update/Download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/os/FakeFileSystem.h"
#include "sim/os/FakeInternet.h"
#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

using sim::FakeInternet;
using ::testing::ElementsAre;

constexpr const char* kUrl = "https://download.velnor.example/BIOS/WIN/Z270.zip";
constexpr const char16_t* kFile = u"C:\\Tools\\Z270.zip";

std::string Pattern(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return body;
}

class NoMemory : public IBodyAllocator {
 public:
  void* AllocateZeroed(std::size_t size) override {
    Requested.push_back(size);
    return nullptr;
  }
  std::vector<std::size_t> Requested;
};

class DownloadTest : public test::FakeOsFixture {
 protected:
  DownloadTest() { Disk.AddFolder(u"C:\\Tools"); }
  int Count(const std::string& call) const {
    return static_cast<int>(std::count(Internet.Calls.begin(), Internet.Calls.end(), call));
  }
  int CountPrefix(const std::string& prefix) const {
    return static_cast<int>(std::count_if(Internet.Calls.begin(), Internet.Calls.end(),
                                          [&](const std::string& call) { return call.starts_with(prefix); }));
  }
  int PausesBetweenAttempts() const {
    return static_cast<int>(std::count(Environment.Sleeps.begin(), Environment.Sleeps.end(), 1000u));
  }
  const sim::FakeFileSystem::File* LocalFile() const { return Disk.FindFile(kFile); }

  FakeInternet Internet;
  sim::FakeFileSystem Disk;

 private:
  sys::ScopedSeam<sys::IInternet> InternetSeam{Internet};
  sys::ScopedSeam<sys::IFiles> FilesSeam{Disk};
};

TEST_F(DownloadTest, WholeBodyInSeveralChunksArrivesInOneAttempt) {
  const std::string body = Pattern(3000);
  Internet.Responses[kUrl] = {FakeInternet::Ok(body, 700)};

  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));

  ASSERT_NE(LocalFile(), nullptr);
  EXPECT_EQ(LocalFile()->Data, body);
  EXPECT_EQ(Count("open " + std::string(kUrl)), 1);
  EXPECT_EQ(PausesBetweenAttempts(), 0);
  // After the body, four empty reads end the transfer, with a yield between them.
  EXPECT_THAT(Environment.Sleeps, ElementsAre(0u, 0u, 0u));
  EXPECT_EQ(Internet.OpenHandles(), 0u);
  EXPECT_EQ(Disk.OpenHandles(), 0u);
}

TEST_F(DownloadTest, RequestHasNoAgentNoProxyAndBypassesEveryCache) {
  Internet.Responses[kUrl] = {FakeInternet::Ok("x")};
  ASSERT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));

  ASSERT_EQ(Internet.Sessions.size(), 1u);
  EXPECT_EQ(Internet.Sessions[0].Agent, "");
  EXPECT_EQ(Internet.Sessions[0].AccessType, 1u);
  EXPECT_FALSE(Internet.Sessions[0].Proxy);
  EXPECT_FALSE(Internet.Sessions[0].ProxyBypass);
  EXPECT_EQ(Internet.Sessions[0].Flags, 0u);
  ASSERT_EQ(Internet.Requests.size(), 1u);
  EXPECT_EQ(Internet.Requests[0].Url, kUrl);
  EXPECT_FALSE(Internet.Requests[0].Headers);
  EXPECT_EQ(Internet.Requests[0].HeadersLength, 0u);
  EXPECT_EQ(Internet.Requests[0].Flags, 0x84000100u);
  EXPECT_EQ(Internet.Requests[0].Context, 0u);
}

TEST_F(DownloadTest, ReadsAreAtMost1024BytesAndHandlesCloseRequestFirst) {
  Internet.Responses[kUrl] = {FakeInternet::Ok(Pattern(5000), 5000)};
  ASSERT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));

  EXPECT_EQ(Count("read 1024"), CountPrefix("read "));
  EXPECT_EQ(Count("read 1024"), 5 + 4);  // 4 full, one of 904, then four empty reads
  ASSERT_GE(Internet.Calls.size(), 2u);
  EXPECT_THAT(std::vector<std::string>(Internet.Calls.end() - 2, Internet.Calls.end()),
              ElementsAre("close request", "close session"));
}

TEST_F(DownloadTest, StatusAndLengthQueriesUseTheSpecifiedLevels) {
  Internet.Responses[kUrl] = {FakeInternet::Ok("abc")};
  ASSERT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  EXPECT_EQ(Count("query " + std::to_string(0x20000013)), 1);
  EXPECT_EQ(Count("query 5"), 1);
}

struct FailingCase {
  const char* Name;
  FakeInternet::Response Response;
  bool SessionFails;
  bool FileStays;               // the last attempt's file remains
  std::string FileData;         // its contents
  int StatusQueriesPerAttempt;  // asked before giving up
  int LengthQueriesPerAttempt;
  bool ReadsBody;
};

FakeInternet::Response WithStatuses(std::vector<std::optional<sys::Dword>> statuses) {
  FakeInternet::Response response = FakeInternet::Ok("body");
  response.Statuses = std::move(statuses);
  return response;
}

FakeInternet::Response WithLengths(std::vector<std::optional<std::string>> lengths) {
  FakeInternet::Response response = FakeInternet::Ok("body");
  response.Lengths = std::move(lengths);
  return response;
}

FakeInternet::Response Announcing(const std::string& length, const std::string& body) {
  FakeInternet::Response response = FakeInternet::Ok(body);
  response.Lengths = {length};
  return response;
}

FakeInternet::Response OpenFails() {
  FakeInternet::Response response;
  response.OpenFails = true;
  return response;
}

std::vector<FailingCase> FailingCases() {
  return {
      {"NotFound", WithStatuses({404}), false, false, "", 4, 0, false},
      {"ServerError", WithStatuses({500}), false, false, "", 4, 0, false},
      {"StatusQueryFails", WithStatuses({std::nullopt}), false, false, "", 4, 0, false},
      {"OkOnlyOnTheFifthQuery", WithStatuses({500, 500, 500, 500, 200}), false, false, "", 4, 0, false},
      {"NoContentLength", WithLengths({}), false, false, "", 1, 4, false},
      {"ZeroLength", WithLengths({"0"}), false, false, "", 1, 4, false},
      {"LengthNotANumber", WithLengths({"abc"}), false, false, "", 1, 4, false},
      {"NegativeLength", WithLengths({"-4"}), false, false, "", 1, 1, false},
      {"LengthTextTooLongForTheBuffer", WithLengths({std::string(32, '1')}), false, false, "", 1, 4, false},
      {"BodyShorterThanAnnounced", Announcing("10", "short"), false, true, "short", 1, 1, true},
      {"EmptyBody", Announcing("10", ""), false, true, "", 1, 1, true},
      {"BodyLongerThanAnnounced", Announcing("4", "0123456789"), false, true, "0123", 1, 1, true},
      {"UrlCannotBeOpened", OpenFails(), false, false, "", 0, 0, false},
      {"NoSession", FakeInternet::Ok("body"), true, false, "", 0, 0, false},
  };
}

class DownloadFailureTest : public DownloadTest, public ::testing::WithParamInterface<FailingCase> {};

TEST_P(DownloadFailureTest, FourAttemptsThreePausesAndFalse) {
  const FailingCase& c = GetParam();
  Internet.Responses[kUrl] = {c.Response};
  Internet.SessionFails = c.SessionFails;

  EXPECT_FALSE(DownloadFileSync(kUrl, "Z270.zip"));

  EXPECT_EQ(Count("session"), 4);
  EXPECT_EQ(Count("open " + std::string(kUrl)), c.SessionFails ? 0 : 4);
  EXPECT_EQ(PausesBetweenAttempts(), 3);
  EXPECT_EQ(Count("query " + std::to_string(0x20000013)), 4 * c.StatusQueriesPerAttempt);
  EXPECT_EQ(Count("query 5"), 4 * c.LengthQueriesPerAttempt);
  EXPECT_EQ(CountPrefix("read ") > 0, c.ReadsBody);
  if (c.FileStays) {
    ASSERT_NE(LocalFile(), nullptr);
    EXPECT_EQ(LocalFile()->Data, c.FileData);
  } else {
    EXPECT_EQ(LocalFile(), nullptr);
  }
  EXPECT_EQ(Internet.OpenHandles(), 0u);
  EXPECT_EQ(Disk.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Responses, DownloadFailureTest, ::testing::ValuesIn(FailingCases()),
                         [](const auto& param) { return std::string(param.param.Name); });

// What each attempt met is what the run's log shows a support engineer.
TEST_F(DownloadTest, EachAttemptRecordsTheStatusTheAnnouncedLengthAndTheBytesStored) {
  const struct {
    const char* Name;
    FakeInternet::Response Response;
    bool Stored;
    std::vector<DownloadAttempt> Attempts;
  } cases[] = {
      {"whole body", FakeInternet::Ok(Pattern(3000), 700), true, {{200, 3000, 3000}}},
      {"not found", WithStatuses({404}), false, std::vector<DownloadAttempt>(4, {404, 0, 0})},
      {"no status", WithStatuses({std::nullopt}), false, std::vector<DownloadAttempt>(4, {0, 0, 0})},
      {"short body", Announcing("10", "short"), false, std::vector<DownloadAttempt>(4, {200, 10, 5})},
      {"no address", OpenFails(), false, std::vector<DownloadAttempt>(4, {0, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Internet.Responses[kUrl] = {c.Response};
    std::vector<DownloadAttempt> attempts;
    EXPECT_EQ(DownloadFileSync(kUrl, "Z270.zip", &attempts), c.Stored);
    EXPECT_EQ(attempts, c.Attempts);
  }
}

TEST_F(DownloadTest, BodyLongerThanAnnouncedStopsReadingAtTheSurplus) {
  FakeInternet::Response response = FakeInternet::Ok(Pattern(4096), 1024);
  response.Lengths = {"1500"};
  Internet.Responses[kUrl] = {response};

  EXPECT_FALSE(DownloadFileSync(kUrl, "Z270.zip"));

  // Two reads per attempt: the second one brings more than fits.
  EXPECT_EQ(CountPrefix("read "), 4 * 2);
  ASSERT_NE(LocalFile(), nullptr);
  EXPECT_EQ(LocalFile()->Data, Pattern(4096).substr(0, 1500));
}

TEST_F(DownloadTest, StatusOkOnTheFourthQueryIsAccepted) {
  FakeInternet::Response response = FakeInternet::Ok("body");
  response.Statuses = {std::nullopt, 302, 500, 200};
  Internet.Responses[kUrl] = {response};
  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  EXPECT_EQ(Count("open " + std::string(kUrl)), 1);
}

TEST_F(DownloadTest, LengthIsAskedAgainWhileItIsZero) {
  FakeInternet::Response response = FakeInternet::Ok("12 bytes ok.");
  response.Lengths = {std::nullopt, "0", "12"};
  Internet.Responses[kUrl] = {response};
  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  EXPECT_EQ(Count("query 5"), 3);
}

TEST_F(DownloadTest, LengthTextIsReadLikeAtol) {
  for (const char* text : {"  12", "12abc", "+12", "0012"}) {
    SCOPED_TRACE(text);
    FakeInternet::Response response = FakeInternet::Ok("12 bytes ok.");
    response.Lengths = {text};
    Internet.Responses[kUrl] = {response};
    EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  }
}

TEST_F(DownloadTest, ThreeEmptyReadsInARowDoNotEndTheTransfer) {
  FakeInternet::Response response;
  response.Lengths = {"6"};
  response.Reads = {{"abc", true}, {"", false}, {"", true}, {"", true}, {"def", true}};
  Internet.Responses[kUrl] = {response};

  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  EXPECT_EQ(LocalFile()->Data, "abcdef");
}

TEST_F(DownloadTest, FourEmptyReadsInARowEndTheTransfer) {
  FakeInternet::Response response;
  response.Lengths = {"6"};
  response.Reads = {{"abc", true}, {"", true}, {"", false}, {"", true}, {"", true}, {"def", true}};
  Internet.Responses[kUrl] = {response};

  EXPECT_FALSE(DownloadFileSync(kUrl, "Z270.zip"));
  EXPECT_EQ(LocalFile()->Data, "abc");
}

TEST_F(DownloadTest, AFailedAttemptIsRetriedAfterOneSecond) {
  Internet.Responses[kUrl] = {WithStatuses({404}), FakeInternet::Ok("second time")};

  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));

  EXPECT_EQ(Count("open " + std::string(kUrl)), 2);
  EXPECT_EQ(PausesBetweenAttempts(), 1);
  EXPECT_EQ(LocalFile()->Data, "second time");
}

TEST_F(DownloadTest, AShortAttemptIsTruncatedByTheNextOne) {
  Internet.Responses[kUrl] = {Announcing("10", "0123456789ABCDEF"), FakeInternet::Ok("fine")};
  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  EXPECT_EQ(LocalFile()->Data, "fine");
}

TEST_F(DownloadTest, ASecondDownloadReplacesTheFirstFile) {
  Internet.Responses[kUrl] = {FakeInternet::Ok(Pattern(3000))};
  Internet.Responses["https://download.velnor.example/small"] = {FakeInternet::Ok("tiny")};

  ASSERT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));
  ASSERT_TRUE(DownloadFileSync("https://download.velnor.example/small", "Z270.zip"));

  EXPECT_EQ(LocalFile()->Data, "tiny");
}

TEST_F(DownloadTest, FolderThatDoesNotExistFailsBeforeTheBodyIsRead) {
  Internet.Responses[kUrl] = {FakeInternet::Ok("body")};

  EXPECT_FALSE(DownloadFileSync(kUrl, "C:\\Missing\\Z270.zip"));

  EXPECT_EQ(Count("query 5"), 4);
  EXPECT_EQ(CountPrefix("read "), 0);
  EXPECT_EQ(PausesBetweenAttempts(), 3);
  EXPECT_TRUE(Disk.AllFiles().empty());
}

TEST_F(DownloadTest, BufferThatCannotBeAllocatedFailsTheAttempt) {
  NoMemory noMemory;
  sys::ScopedSeam<IBodyAllocator> allocatorSeam(noMemory);
  Internet.Responses[kUrl] = {Announcing("2147483647", "body")};

  EXPECT_FALSE(DownloadFileSync(kUrl, "Z270.zip"));

  EXPECT_THAT(noMemory.Requested, ElementsAre(2147483647u, 2147483647u, 2147483647u, 2147483647u));
  EXPECT_EQ(CountPrefix("read "), 0);
  ASSERT_NE(LocalFile(), nullptr);  // created before the buffer was asked for
  EXPECT_EQ(LocalFile()->Data, "");
  EXPECT_EQ(Disk.OpenHandles(), 0u);
}

TEST_F(DownloadTest, LengthBeyondTheLongRangeIsHeldAtItsMaximum) {
  NoMemory noMemory;
  sys::ScopedSeam<IBodyAllocator> allocatorSeam(noMemory);
  Internet.Responses[kUrl] = {Announcing("99999999999999999999", "body")};

  EXPECT_FALSE(DownloadFileSync(kUrl, "Z270.zip"));
  ASSERT_FALSE(noMemory.Requested.empty());
  EXPECT_EQ(noMemory.Requested.front(), 2147483647u);
}

TEST_F(DownloadTest, AWriteThatTheFullDiskRefusesFailsEveryAttempt) {
  Disk.FreeSpace = 2;
  Internet.Responses[kUrl] = {FakeInternet::Ok("body")};

  EXPECT_FALSE(DownloadFileSync(kUrl, "Z270.zip"));

  EXPECT_EQ(Count("open " + std::string(kUrl)), 4);
  EXPECT_EQ(PausesBetweenAttempts(), 3);
  ASSERT_NE(LocalFile(), nullptr);
  EXPECT_EQ(LocalFile()->Data, "");
  EXPECT_EQ(Disk.OpenHandles(), 0u);
}

TEST_F(DownloadTest, AnAttemptThatFindsRoomAfterAFullDiskSucceeds) {
  Disk.FreeSpace = 100;
  Internet.Responses[kUrl] = {FakeInternet::Ok(Pattern(3000)), FakeInternet::Ok("fits")};

  EXPECT_TRUE(DownloadFileSync(kUrl, "Z270.zip"));

  EXPECT_EQ(Count("open " + std::string(kUrl)), 2);
  EXPECT_EQ(PausesBetweenAttempts(), 1);
  EXPECT_EQ(LocalFile()->Data, "fits");
}

}  // namespace
}  // namespace kestrune
