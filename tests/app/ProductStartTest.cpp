// The program's start: library loading is restricted to the system folder
// before anything else, so the first library that is not a known DLL (the
// version library, which the banner's version query loads) and every later
// one come from the system folder only.
#include "app/ProductStart.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "install/InstallRun.h"
#include "sim/os/FakeLibraryLoading.h"
#include "tests/support/FakeOsFixture.h"
#include "tests/support/FakeRunCollaborators.h"

namespace kestrune {
namespace {

using ::testing::ElementsAre;

// The version seam as the product's adapter meets it: its first query
// loads the version library. Recorded in the shared log, then answered by
// the fixture's table.
class LoadingFileVersion : public sys::IFileVersion {
 public:
  LoadingFileVersion(sim::EventLog& log, sys::IFileVersion& table) : Log(log), Table(table) {}
  bool QueryFixedFileVersion(const std::string& path, sys::Dword* versionMs, sys::Dword* versionLs) override {
    Log.Add("load version.dll");
    return Table.QueryFixedFileVersion(path, versionMs, versionLs);
  }

 private:
  sim::EventLog& Log;
  sys::IFileVersion& Table;
};

class ProductStartTest : public test::FakeOsFixture {
 protected:
  ProductStartTest() {
    Environment.ModulePath = "C:\\Users\\Pat\\Downloads\\Kestrune.exe";
    FileVersion.Files[Environment.ModulePath] = {0x00010000, 0};
    Platform.KabyLake = false;  // the run ends at its first gate
  }

  std::int32_t Start() {
    app::ProductStart start(Libraries, [this] {
      Log.Add("install adapters");
      Loading.emplace(VersionLoader);
    });
    return start.Run([this] {
      InstallRun run(Platform, {"https://www.velnor.example", "https://download.velnor.example"});
      return run.Run();
    });
  }

  sim::FakeLibraryLoading Libraries{&Log};
  test::FakeRunCollaborators Platform{Log};
  LoadingFileVersion VersionLoader{Log, FileVersion};
  std::optional<sys::ScopedSeam<sys::IFileVersion>> Loading;
};

TEST_F(ProductStartTest, RestrictionComesBeforeTheAdaptersAndTheFirstLibrary) {
  EXPECT_EQ(Start(), 1);
  ASSERT_GE(Log.All().size(), 2u);
  EXPECT_THAT(std::vector<std::string>(Log.All().begin(), Log.All().begin() + 2),
              ElementsAre("restrict library loading to the system folder", "install adapters"));
  EXPECT_NE(std::find(Log.All().begin(), Log.All().end(), "load version.dll"), Log.All().end());
  EXPECT_EQ(std::count(Log.All().begin(), Log.All().end(), "restrict library loading to the system folder"), 1);
}

TEST_F(ProductStartTest, TheRunItselfIsUnchanged) {
  EXPECT_EQ(Start(), 1);
  EXPECT_THAT(Console.Output, ::testing::StartsWith(std::string(42, '=') + "\n  Velnor Kestrune Utility v1.0.0\n"));
  EXPECT_EQ(Log.All().back(), "reg set EXERetCode=1");
}

}  // namespace
}  // namespace kestrune
