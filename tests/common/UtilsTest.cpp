#include "common/Utils.h"

#include <gtest/gtest.h>

#include "tests/support/FakeOsFixture.h"

namespace kestrune {
namespace {

using UtilsTest = test::FakeOsFixture;

struct TextCase {
  const char* text;
  const char* delimiter;
  const char* fallback;
  const char* before;
  const char* after;
};

TEST_F(UtilsTest, TextBeforeAndAfterIgnoreCaseAndCutFromTheInput) {
  const TextCase cases[] = {
      {"P1.20", ".", "", "P1", "20"},
      {"P120", ".", "", "", ""},
      {"P120", ".", "none", "none", "none"},
      {"fooBARbaz", "bar", "", "foo", "baz"},
      {"rom/ROM", "ROM", "", "", "/ROM"},
      {"\xE9t\xE9", "\xC9", "", "", "t\xE9"},  // code-page upper-casing, not ASCII only
      {"abc", "", "x", "x", "x"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TextBefore(c.text, c.delimiter, c.fallback), c.before);
    EXPECT_EQ(TextAfter(c.text, c.delimiter, c.fallback), c.after);
  }
}

TEST_F(UtilsTest, ReplaceFirstTestsExactlyButReplacesTheFirstOccurrenceIgnoringCase) {
  EXPECT_EQ(ReplaceFirst("abc", "ROM", "WIN"), "abc");
  EXPECT_EQ(ReplaceFirst("rom/ROM", "ROM", "WIN"), "WIN/ROM");
  EXPECT_EQ(ReplaceFirst("Rom", "ROM", "WIN"), "Rom");
  EXPECT_EQ(ReplaceFirst("/bios/ROM/x/ROM/a.zip", "ROM", "WIN"), "/bios/WIN/x/ROM/a.zip");
}

TEST_F(UtilsTest, ReplaceTextReplacesEveryOccurrenceAndEndsOnSelfFeedingReplacements) {
  EXPECT_EQ(ReplaceText("a/b/c", "/", "\\"), "a\\b\\c");
  EXPECT_EQ(ReplaceText("abc", "/", "\\"), "abc");
  const std::string grown = ReplaceText("aXa", "a", "aa");  // never settles: must still end
  EXPECT_GT(grown.size(), 3u);
}

TEST_F(UtilsTest, TextAfterLast) {
  EXPECT_EQ(TextAfterLast("a/b/c.zip", "/", ""), "c.zip");
  EXPECT_EQ(TextAfterLast("abc", "/", "dflt"), "dflt");
  EXPECT_EQ(TextAfterLast("a/b/", "/", "dflt"), "");
}

// Names from outside: the package's, the catalogue's made from the model
// name, every part of an archive member's name. The 8-bit names are read
// in Windows-1252, where 0xB9, 0xB2 and 0xB3 are the superscript digits one
// to three and 0xB4 an acute accent. A name is a device only when the whole
// part before its first "." is one (CONFIG.SYS is none); a trailing dot or
// blank would be dropped by the system, which would then write another name.
TEST_F(UtilsTest, SafeFileNames) {
  const std::string safe[] = {
      "AFUWINx64.EXE", "Z270F210.zip", "Z270 GAMING.xml", "AB_CD_E.xml",   "CONFIG.SYS",  "nul2.txt",    "COM10",
      "COM",           "NULL",         "CONSOLE.log",     "AUXILIARY.bin", "COM\xB4.txt", "LPT\xB9\xB9", "..data.txt",
      "x..y",          ".hidden",      " lead.txt",       "\xE9t\xE9.txt"};
  const std::string refused[] = {"",          ".",         "..",       "...",  "name.",   "name ",
                                 " ",         "..\\x.xml", "a\\b",     "a/b",  "C:x.zip", "x.zip:stream",
                                 "a\x01.zip", "tab\tname", "\r\n.zip", "\x1F", "\x7F.zip"};
  const std::string devices[] = {"NUL",     "nul",         "Nul.txt",      "NUL.",      "CON ",   "con.tar.gz",
                                 "PRN",     "AUX.log",     "COM1",         "com1.bin",  "COM9",   "COM0",
                                 "LPT1",    "lpt9.txt",    "LPT0",         "COM1 .log", "CONIN$", "conout$.txt",
                                 "COM\xB9", "lpt\xB2.txt", "Com\xB3 .log", "LPT\xB9"};
  for (const std::string& name : safe) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsSafeFileName(name));
  }
  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsSafeFileName(name));
  }
  for (const std::string& name : devices) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsSafeFileName(name));
  }
  EXPECT_FALSE(IsSafeFileName(std::string("a\0b", 3)));  // a NUL would end the name early
}

TEST_F(UtilsTest, SafeFileNamesAreJudgedAsTheSystemReadsThem) {
  EXPECT_FALSE(IsSafeFileName(u"COM\u00B9"));
  EXPECT_FALSE(IsSafeFileName(u"lpt\u00B3.bin"));
  EXPECT_TRUE(IsSafeFileName(u"COM\u2074"));  // superscript four names no device
  // The two UTF-8 bytes of U+00B9, read in Windows-1252, are two other
  // characters.
  EXPECT_TRUE(IsSafeFileName("COM\xC2\xB9"));
  // In code page 932 "\x83\x5C" is one character (KATAKANA LETTER SO), no
  // "\\"; a byte the code page cannot carry refuses the name.
  CodePage.AnsiCodePage = 932;
  EXPECT_TRUE(IsSafeFileName("\x83\x5C.zip"));
  EXPECT_FALSE(IsSafeFileName("name\x83"));  // a lead byte without its second
  CodePage.AnsiCodePage = 1252;
  EXPECT_FALSE(IsSafeFileName("\x83\x5C.zip"));
}

TEST_F(UtilsTest, HexTextIsEightUpperCaseDigits) {
  EXPECT_EQ(HexText(495), "0x000001EF");
  EXPECT_EQ(HexText(0xFFFFFFFF), "0xFFFFFFFF");
}

TEST_F(UtilsTest, ProgramNames) {
  struct Case {
    const char* path;
    const char* fileName;
    const char* baseName;
    const char* runEntryName;
  };
  const Case cases[] = {
      {"C:\\Tools\\tool.exe", "tool.exe", "tool", "tool"},
      {"C:\\Tools\\my.tool.exe", "my.tool.exe", "my.tool", "my"},
      {"C:\\Tools\\tool", "tool", "tool", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Environment.ModulePath = c.path;
    EXPECT_EQ(GetExeFileName(), c.fileName);
    EXPECT_EQ(GetExeBaseName(), c.baseName);
    EXPECT_EQ(GetRunEntryName(), c.runEntryName);
  }
}

TEST_F(UtilsTest, CurrentDirKeepsOnlyADriveRootsBackslash) {
  Environment.CurrentDirectory = "C:\\";
  EXPECT_EQ(GetCurrentDir(), "C:\\");
  Environment.CurrentDirectory = "C:\\Setup\\";
  EXPECT_EQ(GetCurrentDir(), "C:\\Setup");
}

// In the code pages with two-byte characters 0x5C can be a character's
// second byte: "\x83\x5C" is U+30BD (KATAKANA LETTER SO) in code page 932.
// Only a backslash of its own separates or ends a path.
TEST_F(UtilsTest, PathCutsWalkTwoByteCharacters) {
  const std::string so = "\x83\x5C";
  for (const sys::Dword codePage : {932u, 936u, 949u, 950u}) {
    SCOPED_TRACE(codePage);
    CodePage.AnsiCodePage = codePage;
    const struct {
      const char* current;
      std::string expected;
    } dirs[] = {
        {"C:\\Kit\\\x83\x5C", "C:\\Kit\\" + so},
        {"C:\\Kit\\\x83\x5C\\", "C:\\Kit\\" + so},
        {"C:\\\x83\x5C", "C:\\" + so},
        {"C:\\", "C:\\"},
    };
    for (const auto& dir : dirs) {
      Environment.CurrentDirectory = dir.current;
      EXPECT_EQ(GetCurrentDir(), dir.expected);
    }

    Environment.ModulePath = "C:\\Kit\\" + so + "tool.v2.exe";
    EXPECT_EQ(GetExeFileName(), so + "tool.v2.exe");
    EXPECT_EQ(GetExeBaseName(), so + "tool.v2");
    EXPECT_EQ(GetRunEntryName(), so + "tool");
    Environment.ModulePath = "C:\\" + so + "\\" + so;
    EXPECT_EQ(GetExeFileName(), so);

    EXPECT_EQ(TextAfterLast("a\\" + so + "b", "\\", "none"), so + "b");
    EXPECT_EQ(TextAfterLast(so, "\\", "none"), "none");
    EXPECT_EQ(FindLastCharacter("\\" + so, '\\'), 0u);
    EXPECT_EQ(FindLastCharacter(so + "\\", '\\'), 2u);
    // A lead byte at the very end has no second byte: the text ends there.
    EXPECT_EQ(FindLastCharacter("a\\\x83", '\\'), 1u);
  }
  // Single-byte code pages have no second bytes.
  CodePage.AnsiCodePage = 1252;
  Environment.CurrentDirectory = "C:\\Kit\\\x83\x5C";
  EXPECT_EQ(GetCurrentDir(), "C:\\Kit\\\x83");
}

TEST_F(UtilsTest, FileVersionText) {
  FileVersion.Files["a.exe"] = {0x00010000, 0x00030000};
  FileVersion.Files["b.exe"] = {0x00010000, 0x00030007};
  EXPECT_EQ(GetFileVersionText("a.exe"), "1.0.3");
  EXPECT_EQ(GetFileVersionText("b.exe"), "1.0.3.7");
  EXPECT_EQ(GetFileVersionText("none.exe"), "");
  std::uint32_t ms = 7;
  std::uint32_t ls = 9;
  EXPECT_FALSE(GetFileVersion("none.exe", &ms, &ls));
  EXPECT_EQ(ms, 7u);
  EXPECT_EQ(ls, 9u);
}

}  // namespace
}  // namespace kestrune
