// DownloadFileSync through the real WinInet under Wine, against the small
// HTTP server that the test fixture starts on 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "sys/Seam.h"
#include "sys/win32/Adapters.h"
#include "sys/win32/Win32ProcessEnvironment.h"
#include "tests/support/ZipBuilder.h"
#include "update/Download.h"

namespace kestrune {
namespace {

std::string Pattern(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return body;
}

// The real process environment, except that the pauses between attempts are
// recorded instead of waited for.
class RecordedPauses : public sys::win32::Win32ProcessEnvironment {
 public:
  void Sleep(sys::Dword milliseconds) override {
    if (milliseconds == 0) {
      sys::win32::Win32ProcessEnvironment::Sleep(0);
    } else {
      Pauses.push_back(milliseconds);
    }
  }
  std::vector<sys::Dword> Pauses;
};

// The port the fixture's server listens on, from the state folder it names.
std::string ServerBase() {
  const char* state = std::getenv("KESTRUNE_HTTP_STATE");
  if (state == nullptr) {
    return {};
  }
  std::string path = std::string("Z:") + state + "/port";
  for (char& c : path) {
    c = c == '/' ? '\\' : c;
  }
  std::ifstream in(path);
  int port = 0;
  in >> port;
  return port > 0 ? "http://127.0.0.1:" + std::to_string(port) : std::string();
}

class DownloadWineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sys::win32::InstallAdapters(); }

  void SetUp() override { ASSERT_FALSE(Base.empty()) << "the HTTP server fixture is not running"; }

  bool Download(const std::string& path, const std::string& file) { return DownloadFileSync(Base + path, file); }
  std::string Local(const std::string& name) const { return Folder.Text(name); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Folder.Path() / name); }
  // Requests the server has seen for path (asked without pauses being recorded).
  int Hits(const std::string& path) {
    const std::vector<sys::Dword> pauses = Environment.Pauses;
    EXPECT_TRUE(Download("/hits" + path, Local("hits.txt")));
    Environment.Pauses = pauses;
    return std::atoi(test::ReadBytes(Folder.Path() / "hits.txt").c_str());
  }
  int Pauses() const {
    return static_cast<int>(std::count(Environment.Pauses.begin(), Environment.Pauses.end(), 1000u));
  }

  const std::string Base = ServerBase();
  test::ScratchFolder Folder;
  RecordedPauses Environment;

 private:
  sys::ScopedSeam<sys::IProcessEnvironment> EnvironmentSeam{Environment};
};

TEST_F(DownloadWineTest, BodyOfSeveralChunksArrivesWhole) {
  EXPECT_TRUE(Download("/ok/100000", Local("body.bin")));
  EXPECT_EQ(test::ReadBytes(Folder.Path() / "body.bin"), Pattern(100000));
  EXPECT_EQ(Pauses(), 0);
  EXPECT_EQ(Hits("/ok/100000"), 1);
}

TEST_F(DownloadWineTest, NotFoundMakesFourAttemptsAndNoFile) {
  EXPECT_FALSE(Download("/status/404", Local("missing.bin")));
  EXPECT_EQ(Pauses(), 3);
  EXPECT_FALSE(Exists("missing.bin"));
  EXPECT_EQ(Hits("/status/404"), 4);
}

TEST_F(DownloadWineTest, ChunkedAnswerWithoutLengthNeverSucceeds) {
  EXPECT_FALSE(Download("/chunked/5000", Local("chunked.bin")));
  EXPECT_EQ(Pauses(), 3);
  EXPECT_FALSE(Exists("chunked.bin"));
  EXPECT_EQ(Hits("/chunked/5000"), 4);
}

TEST_F(DownloadWineTest, BodyShorterThanAnnouncedLeavesThePartialFile) {
  EXPECT_FALSE(Download("/short/5000/2000", Local("short.bin")));
  EXPECT_EQ(Pauses(), 3);
  EXPECT_EQ(test::ReadBytes(Folder.Path() / "short.bin"), Pattern(2000));
  EXPECT_EQ(Hits("/short/5000/2000"), 4);
}

TEST_F(DownloadWineTest, BodyLongerThanAnnouncedFailsWithoutOverrun) {
  EXPECT_FALSE(Download("/long/1000/3000", Local("long.bin")));
  EXPECT_EQ(Pauses(), 3);
  EXPECT_EQ(test::ReadBytes(Folder.Path() / "long.bin"), Pattern(1000));
}

TEST_F(DownloadWineTest, FolderThatDoesNotExistFailsEveryAttempt) {
  EXPECT_FALSE(Download("/ok/10", Local("absent\\file.bin")));
  EXPECT_EQ(Pauses(), 3);
  EXPECT_FALSE(Exists("absent"));
  EXPECT_EQ(Hits("/ok/10"), 4);
}

TEST_F(DownloadWineTest, SecondDownloadReplacesTheFirst) {
  ASSERT_TRUE(Download("/ok/50000", Local("same.bin")));
  ASSERT_TRUE(Download("/ok/100", Local("same.bin")));
  EXPECT_EQ(test::ReadBytes(Folder.Path() / "same.bin"), Pattern(100));
}

TEST_F(DownloadWineTest, RequestCarriesAnEmptyAgentAndNoCacheHeader) {
  ASSERT_TRUE(Download("/echo", Local("echo.txt")));
  const std::string echo = test::ReadBytes(Folder.Path() / "echo.txt");
  EXPECT_THAT(echo, ::testing::HasSubstr("User-Agent=[]\n"));
  EXPECT_THAT(echo, ::testing::HasSubstr("Pragma=[no-cache]\n"));
  // Asked again, the answer comes from the server, not from a cache.
  ASSERT_TRUE(Download("/echo", Local("echo.txt")));
  EXPECT_EQ(Hits("/echo"), 2);
}

TEST_F(DownloadWineTest, RefusedConnectionFailsEveryAttempt) {
  EXPECT_FALSE(DownloadFileSync("http://127.0.0.1:1/ok/10", Local("refused.bin")));
  EXPECT_EQ(Pauses(), 3);
  EXPECT_FALSE(Exists("refused.bin"));
}

}  // namespace
}  // namespace kestrune
