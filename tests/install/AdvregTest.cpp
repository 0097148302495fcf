// TAdvReg and ReadRegistryString against the registry under test: the fake
// natively, the system's registry under Wine (from a 64-bit test program,
// and from the 32-bit one as the WOW64 process the product is).
#include "install/Advreg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "sim/os/FakeProcessEnvironment.h"
#include "sys/Seam.h"
#include "tests/support/OsUnderTest.h"

namespace kestrune {
namespace {

constexpr const char* kTestKey = "Software\\Velnor\\KestruneTest";

class AdvregTest : public ::testing::Test {
 public:
  sys::IRegistry& Registry = test::RegistryUnderTest();
  sim::FakeProcessEnvironment Environment;

  bool KeyExists(sys::RegKey root, const std::string& path, sys::Dword view = 0) {
    sys::RegKeyHandle key;
    return Registry.RegOpenKeyExA(root, path, sys::kKeyRead | view, key.Put()) == sys::kErrorSuccess;
  }

  std::string RunValue(const std::string& name) {
    sys::RegKeyHandle key;
    if (Registry.RegOpenKeyExA(sys::kHkeyCurrentUser, kRunKey, sys::kKeyRead, key.Put()) != sys::kErrorSuccess) {
      return "<no key>";
    }
    std::uint8_t data[512] = {};
    sys::Dword size = sizeof data - 1;
    if (Registry.RegQueryValueExA(key.Get(), name, nullptr, data, &size) != sys::kErrorSuccess) {
      return "<no value>";
    }
    return reinterpret_cast<const char*>(data);
  }

  // Writes a text value through the wide API in the given view.
  void WriteHklmText(const std::string& path, const char16_t* name, const char* text, sys::Dword view) {
    sys::RegKeyHandle key;
    const std::u16string widePath(path.begin(), path.end());
    ASSERT_EQ(Registry.RegCreateKeyExW(sys::kHkeyLocalMachine, widePath, sys::kKeyAllAccess | view, key.Put()),
              sys::kErrorSuccess);
    std::vector<std::uint8_t> data;
    for (const char* c = text; *c != '\0'; ++c) {
      data.push_back(static_cast<std::uint8_t>(*c));
      data.push_back(0);
    }
    data.insert(data.end(), {0, 0});
    ASSERT_EQ(Registry.RegSetValueExW(key.Get(), name, sys::kRegSz, data.data(), static_cast<sys::Dword>(data.size())),
              sys::kErrorSuccess);
  }

 private:
  sys::ScopedSeam<sys::IRegistry> RegistrySeam{Registry};
  sys::ScopedSeam<sys::ICodePage> CodePageSeam{test::CodePageUnderTest()};
  sys::ScopedSeam<sys::IProcessEnvironment> EnvironmentSeam{Environment};
};

TEST_F(AdvregTest, IntegersRoundTripIncludingMinusOne) {
  TAdvReg reg;
  for (std::int32_t value : {0, 1, -1, 0x7FFFFFFF}) {
    reg.WriteInteger(kTestKey, "EXERetCode", value);
    EXPECT_EQ(reg.ReadInteger(kTestKey, "EXERetCode"), value);
  }
  reg.WriteInteger(kTestKey, "Minus", -1);
  sys::RegKeyHandle key;
  ASSERT_EQ(Registry.RegOpenKeyExA(sys::kHkeyCurrentUser, kTestKey, sys::kKeyRead, key.Put()), sys::kErrorSuccess);
  std::uint32_t raw = 0;
  sys::Dword type = 0;
  sys::Dword size = sizeof raw;
  ASSERT_EQ(Registry.RegQueryValueExA(key.Get(), "Minus", &type, reinterpret_cast<std::uint8_t*>(&raw), &size),
            sys::kErrorSuccess);
  EXPECT_EQ(type, sys::kRegDword);
  EXPECT_EQ(raw, 4294967295u);
}

TEST_F(AdvregTest, MissingValuesReadAsZeroOrEmptyAndLeaveTheKeyBehind) {
  TAdvReg reg;
  const std::string key = std::string(kTestKey) + "\\Fresh";
  EXPECT_EQ(reg.ReadInteger(key, "InstallStatus"), 0);
  EXPECT_TRUE(KeyExists(sys::kHkeyCurrentUser, key));
  EXPECT_EQ(reg.ReadString(key, "OptanePath"), "");
}

TEST_F(AdvregTest, StringsRoundTripAndValuesOfAnotherTypeReadAsMissing) {
  TAdvReg reg;
  reg.WriteString(kTestKey, "OptanePath", "C:\\Program Files\\Kit\\Optane\\SetupOptaneMemory.exe");
  EXPECT_EQ(reg.ReadString(kTestKey, "OptanePath"), "C:\\Program Files\\Kit\\Optane\\SetupOptaneMemory.exe");
  reg.WriteString(kTestKey, "OptanePath", "");
  EXPECT_EQ(reg.ReadString(kTestKey, "OptanePath"), "");

  reg.WriteString(kTestKey, "InstallStatus", "1");
  EXPECT_EQ(reg.ReadInteger(kTestKey, "InstallStatus"), 0);
  reg.WriteInteger(kTestKey, "OptanePath", 1);
  EXPECT_EQ(reg.ReadString(kTestKey, "OptanePath"), "");
}

TEST_F(AdvregTest, RemovingNeverCreatesTheRunKey) {
  // A test registry may hold an empty Run key already (Wine makes one).
  const std::string runKey = kRunKey;
  Registry.RegDeleteKeyW(sys::kHkeyCurrentUser, std::u16string(runKey.begin(), runKey.end()));
  ASSERT_FALSE(KeyExists(sys::kHkeyCurrentUser, kRunKey));
  TAdvReg reg;
  reg.RemoveRunEntry("KestruneTest");
  EXPECT_FALSE(KeyExists(sys::kHkeyCurrentUser, kRunKey));
}

TEST_F(AdvregTest, RunEntryQuotingAndRemoval) {
  TAdvReg reg;
  reg.SetRunEntry("KestruneTestA", "C:\\Program Files\\Tool\\tool.exe", true);
  reg.SetRunEntry("KestruneTestB", "C:\\Tools\\tool.exe", true);
  EXPECT_EQ(RunValue("KestruneTestA"), "\"C:\\Program Files\\Tool\\tool.exe\"");
  EXPECT_EQ(RunValue("KestruneTestB"), "C:\\Tools\\tool.exe");

  Environment.ModulePath = "C:\\Program Files\\Kestrune\\Kestrune.exe";
  reg.AddRunEntry("KestruneTestC");
  EXPECT_EQ(RunValue("KestruneTestC"), "\"C:\\Program Files\\Kestrune\\Kestrune.exe\"");

  for (const char* name : {"KestruneTestA", "KestruneTestB", "KestruneTestC"}) {
    reg.RemoveRunEntry(name);
    EXPECT_EQ(RunValue(name), "<no value>");
  }
  reg.RemoveRunEntry("KestruneTestNeverThere");  // nothing to do, nothing reported
}

TEST_F(AdvregTest, ReadRegistryStringInTheThirtyTwoAndSixtyFourBitViews) {
  const std::string only64 = "Software\\KestruneTest\\Only64";
  const std::string only32 = "Software\\KestruneTest\\Only32";
  WriteHklmText(only64, u"ProductCode", "{64}", sys::kKeyWow64_64Key);
  WriteHklmText(only32, u"ProductCode", "{32}", sys::kKeyWow64_32Key);

  std::array<std::uint8_t, 260> buffer{};
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, only64, "ProductCode", buffer, 0xF023F), 0);
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, only64, "ProductCode", buffer, 0xF013F), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), "{64}");

  buffer.fill(0);
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, only32, "ProductCode", buffer, 0xF023F), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), "{32}");
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, only32, "Missing", buffer, 0xF023F), 0);
}

TEST_F(AdvregTest, ReadRegistryStringRefusesValuesLongerThanItsBuffer) {
  const std::string key = "Software\\KestruneTest\\Long";
  const std::string text(300, 'x');
  WriteHklmText(key, u"ProductCode", text.c_str(), sys::kKeyWow64_32Key);
  std::array<std::uint8_t, 260> buffer{};
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, key, "ProductCode", buffer, 0xF023F), 0);
}

#ifdef _WIN32
// What a 64-bit installer wrote (the suite's 64-bit reg.exe, before this
// program starts) lies in the 64-bit view only. The 32-bit program finds it
// only by asking for that view; its natural view is the 32-bit one. A
// 64-bit test program reads the same through its explicit views.
TEST_F(AdvregTest, AValueThatA64BitProgramWroteLiesInThe64BitViewOnly) {
  const char* key = std::getenv("KESTRUNE_KEY_WRITTEN_BY_64_BIT");
  ASSERT_NE(key, nullptr) << "the suite's fixture names the key";
  std::array<std::uint8_t, 260> buffer{};
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, key, "ProductCode", buffer, 0xF023F), 0);
  EXPECT_EQ(ReadRegistryString(sys::kHkeyLocalMachine, key, "ProductCode", buffer, 0xF013F), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), "{written by a 64-bit program}");
  // Without a view flag a program sees its natural view: the 32-bit one for
  // the 32-bit program, the 64-bit one for a 64-bit program.
  const bool natural64 = sizeof(void*) == 8;
  EXPECT_EQ(KeyExists(sys::kHkeyLocalMachine, key), natural64);
}
#endif

}  // namespace
}  // namespace kestrune
