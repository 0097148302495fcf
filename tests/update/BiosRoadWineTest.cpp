// The install run's BIOS road with the product's real download, catalogue
// and package step under Wine: the catalogue and the package come from the
// local HTTP server, the package is unpacked into "ROM", and the flash tool
// found there is what the run starts. The gates before the road and the
// child program are answered by the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "app/ProductCollaborators.h"
#include "install/InstallRun.h"
#include "sim/os/FakeConsole.h"
#include "sim/os/FakeDialogs.h"
#include "sim/os/FakeRegistry.h"
#include "sys/Seam.h"
#include "sys/win32/Adapters.h"
#include "tests/support/ZipBuilder.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

fs::path StateFolder() {
  const char* state = std::getenv("KESTRUNE_HTTP_STATE");
  return state == nullptr ? fs::path() : fs::path("Z:" + std::string(state));
}

std::string ServerBase() {
  std::ifstream in(StateFolder() / "port");
  int port = 0;
  in >> port;
  return port > 0 ? "http://127.0.0.1:" + std::to_string(port) : std::string();
}

// Puts a file where the server answers the request target with it.
void Serve(const std::string& target, const std::string& bytes) {
  const std::string name = std::regex_replace(target, std::regex("[^A-Za-z0-9._-]"), "_");
  test::WriteBytes(StateFolder() / "www" / name, bytes);
}

// A Velnor Z270 board with a BIOS that lacks Optane support, on 64-bit
// Windows 10 in UEFI mode, network up; the flash tool is not really started.
class BoardWithoutOptane : public app::ProductCollaborators {
 public:
  bool IsKabyLake() override { return true; }
  bool Is64Bit() override { return true; }
  bool IsWindows10() override { return true; }
  BoardIdentity ReadBoardIdentity() override { return {"Z270/AC", "P1.20"}; }
  std::int32_t GetSystemDiskNumber() override { return 0; }
  bool IsGptDisk(std::int32_t) override { return true; }
  bool RegisterRestartEntry(const std::string&) override { return true; }
  bool UnregisterRestartEntry(const std::string&) override { return true; }
  std::unique_ptr<IFirmwareVariableReader> CreateVariableReader() override {
    class AhciMode : public IFirmwareVariableReader {
     public:
      bool GetVariable(const std::u16string&, const std::array<std::uint8_t, 16>&, std::uint8_t* data,
                       std::uint64_t* size, std::uint32_t*) override {
        std::fill(data, data + *size, 0);
        return true;
      }
    };
    return std::make_unique<AhciMode>();
  }
  std::vector<ModuleVersion> ReadModuleVersions() override { return {{"GOP", 1}}; }
  bool IsNetworkConnected() override { return true; }
  std::int32_t RunProgram(const std::string& path, const std::string& arguments, bool wait,
                          const std::function<void()>& onStarted) override {
    Started.push_back(path + " " + arguments + (wait ? " (wait)" : ""));
    onStarted();
    return 0;
  }
  std::vector<std::string> Started;
};

TEST(BiosRoadWineTest, CatalogueAndPackageFromTheServerEndInTheFlashTool) {
  sys::win32::InstallAdapters();
  sim::FakeRegistry registry;
  sim::FakeDialogs dialogs;
  sim::FakeConsole console;
  sys::ScopedSeam<sys::IRegistry> registrySeam(registry);
  sys::ScopedSeam<sys::IDialogs> dialogsSeam(dialogs);
  sys::ScopedSeam<sys::IConsole> consoleSeam(console);

  const std::string base = ServerBase();
  ASSERT_FALSE(base.empty()) << "the HTTP server fixture is not running";
  Serve("/support/LiveUpdate.asp?Model=Z270/AC",
        "<?xml version=\"1.0\"?><LiveUpdate><Download URL=\"S\"><S>" + base +
            "</S></Download><Bios Date=\"2017/03/01\" Version=\"2.00\"><File Version=\"2.00\">/BIOS/ROM/Z270AC.zip"
            "</File></Bios></LiveUpdate>");
  const std::string package = test::MakeZip({{"Flash.exe", "MZ flash tool"}, {"BIOS/Z270AC.bin", "image"}});
  Serve("/BIOS/WIN/Z270AC.zip", package);

  test::ScratchFolder folder;
  const fs::path previous = fs::current_path();
  fs::current_path(folder.Path());
  BoardWithoutOptane board;
  const std::int32_t exitCode = InstallRun(board, {base, base}).Run();
  fs::current_path(previous);

  EXPECT_EQ(exitCode, kExitRestartPending) << console.Output;
  EXPECT_EQ(test::ReadBytes(folder.Path() / "Z270AC.zip"), package);
  EXPECT_TRUE(fs::exists(folder.Path() / "Z270_AC.xml"));
  EXPECT_EQ(test::ReadBytes(folder.Path() / "ROM" / "Flash.exe"), "MZ flash tool");
  EXPECT_EQ(test::ReadBytes(folder.Path() / "ROM" / "BIOS" / "Z270AC.bin"), "image");
  ASSERT_EQ(board.Started.size(), 1u);
  EXPECT_EQ(board.Started[0], folder.Text("ROM") + "\\Flash.exe /S /C (wait)");
  EXPECT_EQ(registry.GetDword("HKCU\\Software\\Velnor\\Kestrune", "BiosUpdate"), 1u);
}

}  // namespace
}  // namespace kestrune
