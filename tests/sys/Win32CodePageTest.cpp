// The code-page adapter against the system's own tables: the lead bytes of
// the code pages with two-byte characters, which the path functions walk
// by, and the fake that the other tests use must agree with them.
#include "sys/win32/Win32CodePage.h"

#include <gtest/gtest.h>

#include "sim/os/FakeCodePage.h"

namespace kestrune {
namespace {

TEST(Win32CodePageTest, LeadBytesOfEveryCodePageAsTheFakeHasThem) {
  sys::win32::Win32CodePage system;
  sim::FakeCodePage fake;
  for (const sys::Dword codePage : {932u, 936u, 949u, 950u, 1252u}) {
    SCOPED_TRACE(codePage);
    int leads = 0;
    for (int byte = 0; byte < 256; ++byte) {
      const bool lead = system.IsDBCSLeadByteEx(codePage, static_cast<std::uint8_t>(byte));
      EXPECT_EQ(lead, fake.IsDBCSLeadByteEx(codePage, static_cast<std::uint8_t>(byte))) << byte;
      leads += lead ? 1 : 0;
    }
    EXPECT_EQ(leads == 0, codePage == 1252u);
    EXPECT_FALSE(system.IsDBCSLeadByteEx(codePage, 0x5C));
  }
}

TEST(Win32CodePageTest, BackslashAsASecondByte) {
  sys::win32::Win32CodePage system;
  // KATAKANA LETTER SO in code page 932, as the fake knows it.
  EXPECT_EQ(system.MultiByteToWideChar(932, "\x83\x5C"), std::u16string(u"\u30BD"));
  EXPECT_EQ(sim::FakeCodePage().DoubleByte.at("\x83\x5C"), u'\u30BD');
  EXPECT_TRUE(system.IsDBCSLeadByteEx(932, 0x83));
}

}  // namespace
}  // namespace kestrune
