// The live-update catalogue: small catalogue files for each rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "sim/os/FakeInternet.h"
#include "sim/os/FakeLocale.h"
#include "tests/support/FakeOsFixture.h"
#include "tests/support/ZipBuilder.h"
#include "update/Velliveupdatexml.h"

namespace kestrune {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kServer = "https://dl.velnor.example";

std::string Catalogue(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LiveUpdate>\n"
         "<Download URL=\"Server1\"><Server1>" +
         std::string(kServer) + "</Server1></Download>\n" + body + "\n</LiveUpdate>\n";
}

class CatalogueTest : public test::FakeOsFixture {
 protected:
  std::unique_ptr<TVelLiveUpdXml> Load(const std::string& xml) {
    test::WriteBytes(Folder.Path() / "Z270.xml", xml);
    return std::make_unique<TVelLiveUpdXml>(Folder.Text("Z270.xml"));
  }
  static std::vector<std::string> Paths(const std::vector<TSrvItem>& items) {
    std::vector<std::string> paths;
    for (const TSrvItem& item : items) {
      paths.push_back(item.FilePath);
    }
    return paths;
  }

  test::ScratchFolder Folder;
  sim::FakeInternet Internet;
  sim::FakeLocale Locale;

 private:
  sys::ScopedSeam<sys::IInternet> InternetSeam{Internet};
  sys::ScopedSeam<sys::ILocale> LocaleSeam{Locale};
};

TEST_F(CatalogueTest, BiosEntryTakesEveryField) {
  auto catalogue = Load(Catalogue(R"(
    <Bios Date="2017/03/01" Version="1.80">
      <Description>Optane support</Description>
      <File Version="1.90" Size="8 MB">/BIOS/ROM/Z270_190.zip</File>
      <CriticalUpdate>1</CriticalUpdate>
      <FileExecute>Flash.exe</FileExecute>
      <FileParameter>/S</FileParameter>
    </Bios>)"));

  ASSERT_TRUE(catalogue->Loaded);
  ASSERT_EQ(catalogue->BiosItems.size(), 1u);
  const TSrvItem& bios = catalogue->BiosItems[0];
  EXPECT_EQ(bios.Title, "BIOS");
  EXPECT_EQ(bios.Date, "2017/03/01");
  EXPECT_EQ(bios.Version, "1.90");
  EXPECT_EQ(bios.Size, "8 MB");
  EXPECT_EQ(bios.FilePath, "/BIOS/ROM/Z270_190.zip");
  EXPECT_EQ(bios.Description, "Optane support");
  EXPECT_EQ(bios.CriticalUpdate, 1);
  EXPECT_EQ(bios.FileExecute, "Flash.exe");
  EXPECT_EQ(bios.FileParameter, "/S");
  EXPECT_EQ(bios.DriverId, "");
  EXPECT_EQ(catalogue->GetBiosFile(), "/BIOS/ROM/Z270_190.zip");
}

TEST_F(CatalogueTest, FirstBiosWithAFileIsTheOnlyEntry) {
  struct Case {
    const char* Name;
    const char* Body;
    std::vector<std::string> Paths;
  };
  const Case cases[] = {
      {"two with files", "<Bios><File>/a.zip</File></Bios><Bios><File>/b.zip</File></Bios>", {"/a.zip"}},
      {"first without a file", "<Bios><Description>x</Description></Bios><Bios><File>/b.zip</File></Bios>", {"/b.zip"}},
      {"empty file text", "<Bios><File></File></Bios><Bios><File>/b.zip</File></Bios>", {""}},
      {"no bios", "<Drivers/>", {}},
      {"bios elsewhere", "<Drivers><Bios><File>/x.zip</File></Bios></Drivers>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto catalogue = Load(Catalogue(c.Body));
    EXPECT_EQ(Paths(catalogue->BiosItems), c.Paths);
    EXPECT_EQ(catalogue->GetBiosFile(), c.Paths.empty() ? "" : c.Paths[0]);
  }
}

TEST_F(CatalogueTest, BiosVersionFallsBackToTheBiosElement) {
  auto catalogue = Load(Catalogue(R"(<Bios Version="1.80"><File Size="1">/a.zip</File></Bios>)"));
  ASSERT_EQ(catalogue->BiosItems.size(), 1u);
  EXPECT_EQ(catalogue->BiosItems[0].Version, "1.80");
}

TEST_F(CatalogueTest, BiosIsNotFilteredByOperatingSystem) {
  auto catalogue = Load(Catalogue(R"(<Bios><File OS="Windows XP">/a.zip</File></Bios>)"));
  EXPECT_EQ(catalogue->GetBiosFile(), "/a.zip");
}

constexpr const char* kDrivers = R"(
  <Drivers>
    <Lan Title="LAN" Date="2017/01/02" DriverId="D1" Version="2.0">
      <Description>Network</Description>
      <File OS="Windows 7 64bit" Version="2.1" Size="10">/drv/lan7.zip</File>
      <CriticalUpdate>3</CriticalUpdate>
      <File OS="Windows 10 64bit" Size="20">/drv/lan10.zip</File>
      <FileExecute>setup.exe</FileExecute>
      <FileParameter>-s</FileParameter>
    </Lan>
    <!-- a comment between entries -->
    <Audio Title="Audio"><File OS="windows 10 64bit">/drv/audio.zip</File></Audio>
    <Chipset Title="Chipset"><File>/drv/any.zip</File><File OS="">/drv/empty.zip</File></Chipset>
  </Drivers>)";

TEST_F(CatalogueTest, DriverMatchesTheRunningSystemAndTheLastMatchingFileWins) {
  auto catalogue = Load(Catalogue(kDrivers));

  ASSERT_EQ(catalogue->DriverItems.size(), 1u);
  const TSrvItem& lan = catalogue->DriverItems[0];
  EXPECT_EQ(lan.Title, "LAN");
  EXPECT_EQ(lan.Date, "2017/01/02");
  EXPECT_EQ(lan.DriverId, "D1");
  EXPECT_EQ(lan.Version, "2.0");  // the matching File has none
  EXPECT_EQ(lan.Size, "20");
  EXPECT_EQ(lan.FilePath, "/drv/lan10.zip");
  EXPECT_EQ(lan.Description, "Network");
  EXPECT_EQ(lan.CriticalUpdate, 3);
  EXPECT_EQ(lan.FileExecute, "setup.exe");
  EXPECT_EQ(lan.FileParameter, "-s");
}

TEST_F(CatalogueTest, SeveralMatchingFilesEachOverwriteTheFileFields) {
  auto catalogue = Load(Catalogue(R"(<Drivers><Lan Version="1">
      <File OS="Windows 10 64bit" Version="2" Size="5">/first.zip</File>
      <File OS="Windows 10 64bit" Size="6">/second.zip</File></Lan></Drivers>)"));
  ASSERT_EQ(catalogue->DriverItems.size(), 1u);
  EXPECT_EQ(catalogue->DriverItems[0].FilePath, "/second.zip");
  EXPECT_EQ(catalogue->DriverItems[0].Version, "1");
  EXPECT_EQ(catalogue->DriverItems[0].Size, "6");
}

TEST_F(CatalogueTest, SystemWithoutANameMatchesFilesWithoutAnOperatingSystem) {
  SystemVersion.VersionQuerySucceeds = false;  // no name for the system
  auto catalogue = Load(Catalogue(kDrivers));
  ASSERT_EQ(catalogue->DriverItems.size(), 1u);
  EXPECT_EQ(catalogue->DriverItems[0].Title, "Chipset");
  EXPECT_EQ(catalogue->DriverItems[0].FilePath, "/drv/empty.zip");
}

TEST_F(CatalogueTest, UtilitiesFollowTheDriverRules) {
  auto catalogue = Load(Catalogue(R"(<Utility>
      <Tool1 Title="Flash" DriverId="U1"><File OS="Windows 10 64bit" Version="3">/utl/flash.zip</File></Tool1>
      <Tool2 Title="Old"><File OS="Windows XP">/utl/old.zip</File></Tool2>
    </Utility>)"));
  ASSERT_EQ(catalogue->UtilityItems.size(), 1u);
  EXPECT_EQ(catalogue->UtilityItems[0].Title, "Flash");
  EXPECT_EQ(catalogue->UtilityItems[0].DriverId, "U1");
  EXPECT_EQ(catalogue->UtilityItems[0].Version, "3");
  EXPECT_THAT(catalogue->DriverItems, IsEmpty());
}

TEST_F(CatalogueTest, OperatingSystemIsAskedOnceForDriversAndOnceForUtilities) {
  auto catalogue = Load(Catalogue(kDrivers));
  EXPECT_EQ(SystemVersion.VersionQueries, 2);
}

constexpr const char* kManuals = R"(
  <Manual>
    <Manual Language="French" Title="Manuel">/man/fr.pdf</Manual>
    <Manual Language="Multi-Language" Title="Quick">/man/multi.pdf</Manual>
    <Guide Language="English" Title="Not a manual">/man/guide.pdf</Guide>
    <Manual Language="German" Title="Handbuch">/man/de.pdf</Manual>
    <Manual Language="English" Title="Manual">/man/en.pdf</Manual>
  </Manual>)";

TEST_F(CatalogueTest, ManualsInTheUserLanguageEnglishAndMultiLanguageInDocumentOrder) {
  struct Case {
    sys::LangId Language;
    std::vector<std::string> Paths;
  };
  const Case cases[] = {
      {0x0407, {"/man/multi.pdf", "/man/de.pdf", "/man/en.pdf"}},
      {0x040C, {"/man/fr.pdf", "/man/multi.pdf", "/man/en.pdf"}},
      {0x0409, {"/man/multi.pdf", "/man/en.pdf"}},
      {0x040A, {"/man/multi.pdf", "/man/en.pdf"}},  // maps to "Multi-Language"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Language);
    Locale.UserLanguage = c.Language;
    auto catalogue = Load(Catalogue(kManuals));
    EXPECT_EQ(Paths(catalogue->ManualItems), c.Paths);
  }
  Locale.UserLanguage = 0x0407;
  auto catalogue = Load(Catalogue(kManuals));
  ASSERT_EQ(catalogue->ManualItems.size(), 3u);
  EXPECT_EQ(catalogue->ManualItems[1].Title, "Handbuch");
  EXPECT_EQ(catalogue->ManualItems[1].Version, "German");
}

TEST_F(CatalogueTest, DocumentsThatYieldNothing) {
  struct Case {
    const char* Name;
    std::string Xml;
    bool Loaded;
  };
  const Case cases[] = {
      {"malformed", "<LiveUpdate><Bios><File>/a.zip</File></Bios>", false},
      {"empty file", "", false},
      {"not xml", "\x89PNG\r\n\x1a\n", false},
      {"other root",
       "<Other><Bios><File>/a.zip</File></Bios><Drivers><D><File OS=\"Windows 10 64bit\">/d</File></D>"
       "</Drivers></Other>",
       true},
      {"empty sections", Catalogue("<Drivers/><Utility></Utility><Manual/>"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto catalogue = Load(c.Xml);
    EXPECT_EQ(catalogue->Loaded, c.Loaded);
    EXPECT_EQ(static_cast<bool>(catalogue->Root), c.Loaded);
    EXPECT_THAT(catalogue->BiosItems, IsEmpty());
    EXPECT_THAT(catalogue->DriverItems, IsEmpty());
    EXPECT_THAT(catalogue->UtilityItems, IsEmpty());
    EXPECT_THAT(catalogue->ManualItems, IsEmpty());
    EXPECT_EQ(catalogue->GetBiosFile(), "");
  }
}

TEST_F(CatalogueTest, MissingFileLeavesEverythingEmpty) {
  TVelLiveUpdXml catalogue(Folder.Text("missing.xml"));
  EXPECT_FALSE(catalogue.Loaded);
  EXPECT_FALSE(catalogue.Root);
  EXPECT_EQ(catalogue.FileName, Folder.Text("missing.xml"));
  EXPECT_EQ(catalogue.GetBiosFile(), "");
}

TEST_F(CatalogueTest, RootIsTheFirstElementAfterDeclarationAndComments) {
  auto catalogue = Load("<?xml version=\"1.0\"?><!-- head --><LiveUpdate><Bios><File>/a</File></Bios></LiveUpdate>");
  ASSERT_TRUE(catalogue->Root);
  EXPECT_STREQ(catalogue->Root.name(), "LiveUpdate");
}

TEST_F(CatalogueTest, LoadingAgainReplacesTheDocument) {
  auto catalogue = Load(Catalogue("<Bios><File>/a.zip</File></Bios>"));
  EXPECT_FALSE(catalogue->LoadFromFile(Folder.Text("missing.xml")));
  EXPECT_FALSE(catalogue->Loaded);
  EXPECT_FALSE(catalogue->Root);
  EXPECT_EQ(catalogue->FileName, Folder.Text("missing.xml"));
  EXPECT_EQ(catalogue->GetBiosFile(), "");
}

TEST_F(CatalogueTest, TextIsTheFirstChildOnlyWhenThatIsText) {
  auto catalogue =
      Load(Catalogue("<Bios><File><b/>/inner.zip</File><Description><![CDATA[<cdata>]]></Description></Bios>"));
  ASSERT_EQ(catalogue->BiosItems.size(), 1u);
  EXPECT_EQ(catalogue->BiosItems[0].FilePath, "");
  EXPECT_EQ(catalogue->BiosItems[0].Description, "<cdata>");
}

// A pretty-printed catalogue reads like a compact one: element texts lose
// the white space at their ends and keep one blank for each inner run;
// attributes and CDATA sections stay as written.
TEST_F(CatalogueTest, ElementTextsAreCondensedAttributesAreNot) {
  auto catalogue = Load(
      "<?xml version=\"1.0\"?>\n"
      "<LiveUpdate>\n"
      "  <Download URL=\"Server1\">\n"
      "    <Server1>\n      https://dl.velnor.example\n    </Server1>\n"
      "  </Download>\n"
      "  <Bios Date=\" 2017/03/01 \" Version=\"1.80\">\n"
      "    <Description>\n      Optane \t  memory\r\n      support\n    </Description>\n"
      "    <File Version=\"1.90\" Size=\"8  MB\">\n      /BIOS/ROM/Z270_190.zip\n    </File>\n"
      "    <CriticalUpdate>\n      1\n    </CriticalUpdate>\n"
      "    <FileExecute> Flash.exe </FileExecute>\n"
      "    <FileParameter><![CDATA[ /S  /C ]]></FileParameter>\n"
      "  </Bios>\n"
      "  <Manual>\n    <Manual Language=\"English\" Title=\"Guide\">\n      /manual/Z270.pdf\n    </Manual>\n"
      "  </Manual>\n"
      "</LiveUpdate>\n");
  ASSERT_EQ(catalogue->BiosItems.size(), 1u);
  const TSrvItem& bios = catalogue->BiosItems[0];
  EXPECT_EQ(catalogue->GetBiosFile(), "/BIOS/ROM/Z270_190.zip");
  EXPECT_EQ(bios.Description, "Optane memory support");
  EXPECT_EQ(bios.CriticalUpdate, 1);
  EXPECT_EQ(bios.FileExecute, "Flash.exe");
  EXPECT_EQ(bios.FileParameter, " /S  /C ");
  EXPECT_EQ(bios.Date, " 2017/03/01 ");
  EXPECT_EQ(bios.Size, "8  MB");
  EXPECT_EQ(catalogue->GetDownloadServer("", true), kServer);
  EXPECT_THAT(Paths(catalogue->ManualItems), ElementsAre("/manual/Z270.pdf"));
}

TEST_F(CatalogueTest, DownloadServerIsEvictedAndAnsweredOnlyWhenAsked) {
  auto catalogue = Load(Catalogue(""));
  Internet.EvictedUrls.clear();

  EXPECT_EQ(catalogue->GetDownloadServer("", false), "");
  EXPECT_EQ(catalogue->GetDownloadServer("", true), kServer);
  EXPECT_THAT(Internet.EvictedUrls, ElementsAre(kServer, kServer));
}

TEST_F(CatalogueTest, DownloadServerByName) {
  auto catalogue = Load(Catalogue("")).release();
  std::unique_ptr<TVelLiveUpdXml> owner(catalogue);
  test::WriteBytes(Folder.Path() / "two.xml",
                   "<LiveUpdate><Download URL=\"A\"><A>http://a.example</A><B>http://b.example</B></Download>"
                   "</LiveUpdate>");
  ASSERT_TRUE(catalogue->LoadFromFile(Folder.Text("two.xml")));
  EXPECT_EQ(catalogue->GetDownloadServer("", true), "http://a.example");
  EXPECT_EQ(catalogue->GetDownloadServer("B", true), "http://b.example");
  EXPECT_EQ(catalogue->GetDownloadServer("C", true), "");
}

TEST_F(CatalogueTest, DownloadServerLookupsThatFindNothing) {
  struct Case {
    const char* Name;
    const char* Xml;
  };
  const Case cases[] = {
      {"no download", "<LiveUpdate/>"},
      {"no url attribute", "<LiveUpdate><Download><S>http://s</S></Download></LiveUpdate>"},
      {"named child missing", "<LiveUpdate><Download URL=\"S\"><T>http://t</T></Download></LiveUpdate>"},
      {"empty address", "<LiveUpdate><Download URL=\"S\"><S></S></Download></LiveUpdate>"},
      {"child not at that path", "<LiveUpdate><Download URL=\"S\"/><S>http://s</S></LiveUpdate>"},
      {"expression syntax", "<LiveUpdate><Download URL=\"S[\"><S>http://s</S></Download></LiveUpdate>"},
      {"union", "<LiveUpdate><Download URL=\"S|/LiveUpdate/X\"><X>http://x</X></Download></LiveUpdate>"},
      {"wildcard", "<LiveUpdate><Download URL=\"*\"><S>http://s</S></Download></LiveUpdate>"},
      {"parent step", "<LiveUpdate><Download URL=\"..\"><S>http://s</S></Download></LiveUpdate>"},
      {"function", "<LiveUpdate><Download URL=\"S[count(//*)]\"><S>http://s</S></Download></LiveUpdate>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto catalogue = Load(c.Xml);
    Internet.EvictedUrls.clear();
    EXPECT_EQ(catalogue->GetDownloadServer("", true), "");
    EXPECT_THAT(Internet.EvictedUrls, IsEmpty());
  }
}

TEST_F(CatalogueTest, EveryEntryWithAPathEvictsTheServerOnceMore) {
  Locale.UserLanguage = 0x0409;
  auto catalogue = Load(
      Catalogue(std::string(kDrivers) + kManuals + "<Bios><File>/a.zip</File></Bios><Bios><File>/b.zip</File></Bios>"));
  // One matching driver File, two English and multi-language manuals, one BIOS File.
  EXPECT_EQ(Internet.EvictedUrls.size(), 4u);
  for (const std::string& url : Internet.EvictedUrls) {
    EXPECT_EQ(url, kServer);
  }
}

TEST_F(CatalogueTest, TextsArriveInTheAnsiCodePage) {
  const std::string utf8 =
      "<Bios><Description>Gr\xC3\xB6\xC3\x9F"
      "e</Description><File>/a.zip</File></Bios>";
  auto fromUtf8 = Load(Catalogue(utf8));
  ASSERT_EQ(fromUtf8->BiosItems.size(), 1u);
  EXPECT_EQ(fromUtf8->BiosItems[0].Description,
            "Gr\xF6\xDF"
            "e");

  auto fromLatin1 = Load(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><LiveUpdate><Bios><Description>Gr\xF6\xDF"
      "e</Description><File>/a.zip</File></Bios></LiveUpdate>");
  ASSERT_EQ(fromLatin1->BiosItems.size(), 1u);
  EXPECT_EQ(fromLatin1->BiosItems[0].Description,
            "Gr\xF6\xDF"
            "e");

  // Undeclared bytes that are not UTF-8 stay as they are.
  auto undeclared = Load(
      "<LiveUpdate><Bios><Description>Gr\xF6\xDF"
      "e</Description><File>/a</File></Bios>"
      "</LiveUpdate>");
  ASSERT_EQ(undeclared->BiosItems.size(), 1u);
  EXPECT_EQ(undeclared->BiosItems[0].Description,
            "Gr\xF6\xDF"
            "e");
}

TEST_F(CatalogueTest, CriticalUpdateThatIsNotAWholeNumberIsZero) {
  const std::map<std::string, std::int32_t> cases = {
      {"7", 7},
      {" 12 ", 12},
      {"-3", -3},
      {"+4", 4},
      {"", 0},
      {"abc", 0},
      {"1.5", 0},
      {"12abc", 0},
      {"0x10", 0},
      {"- 1", 0},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", 0},
      {"99999999999999999999", 0},
      {"-", 0},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(CriticalUpdateValue(text), value);
    auto catalogue = Load(Catalogue("<Bios><CriticalUpdate>" + text + "</CriticalUpdate><File>/a</File></Bios>"));
    ASSERT_EQ(catalogue->BiosItems.size(), 1u);
    EXPECT_EQ(catalogue->BiosItems[0].CriticalUpdate, value);
  }
}

TEST(CatalogueOsNameTest, NamesFollowTheVersionTag) {
  struct Case {
    const char* Tag;
    bool Wow64;
    std::int32_t Code;
    const char* Name;
  };
  const Case cases[] = {
      {"WNT_10.0A", true, 6, "Windows 10 64bit"},
      {"WNT_10.0", false, 4, "Windows 10"},
      {"WNT_10.0", true, 6, "Windows 10 64bit"},
      {"WNT_6.3", false, 4, "Windows 8.1"},
      {"WNT_6.3SA", true, 6, "Windows 8.1 64bit"},
      {"WNT_6.2", false, 4, "Windows 8"},
      {"WNT_6.1SA", true, 6, "Windows 7 64bit"},
      {"WNT_6.1", false, 4, "Windows 7"},
      {"WNT_6.0A", true, 6, "Windows Vista 64bit"},
      {"WNT_6.1HS2011A", true, 6, "Windows 7 64bit"},
      {"WNT_5.1", false, 1, "Windows XP"},
      {"WNT_5.0", false, 1, "Windows XP"},
      {"WNT_5.2A", true, 3, "Windows XP 64bit"},
      {"WNT_5.2SA", true, 2, ""},
      {"WNT_6.4", false, 4, ""},
      {"Unknown", false, 0, ""},
      {"WIN_4.10", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Tag);
    EXPECT_EQ(CatalogueOsName(c.Tag, c.Wow64, c.Code), c.Name);
  }
}

TEST(LanguageNameTest, WholeTable) {
  std::map<std::uint16_t, std::string> expected;
  for (std::uint16_t id : {0x0404, 0x0C04, 0x1004, 0x1404}) expected[id] = "T.Chinese";
  for (std::uint16_t id : {0x0407, 0x0807, 0x0C07, 0x1007, 0x1407}) expected[id] = "German";
  for (std::uint16_t id : {0x0409, 0x0809, 0x0C09, 0x1009, 0x1409, 0x1809, 0x1C09, 0x2009, 0x2409, 0x2809, 0x2C09,
                           0x3009, 0x3409, 0x4009, 0x4409, 0x4809}) {
    expected[id] = "English";
  }
  for (std::uint16_t id : {0x040C, 0x080C, 0x0C0C, 0x100C, 0x140C, 0x180C}) expected[id] = "French";
  for (std::uint16_t id : {0x0410, 0x0810}) expected[id] = "Italian";
  expected[0x0411] = "Japanese";
  expected[0x0412] = "Korean";
  expected[0x0804] = "S.Chinese";
  for (std::uint16_t id : {0x080A, 0x0C0A, 0x100A, 0x140A, 0x180A, 0x1C0A, 0x200A, 0x240A, 0x280A, 0x2C0A, 0x300A,
                           0x340A, 0x380A, 0x3C0A, 0x400A, 0x440A, 0x480A, 0x4C0A, 0x500A}) {
    expected[id] = "Spanish";
  }
  for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
    auto it = expected.find(static_cast<std::uint16_t>(id));
    const std::string want = it == expected.end() ? "Multi-Language" : it->second;
    ASSERT_EQ(TVelLiveUpdXml::GetLanguageName(static_cast<std::uint16_t>(id)), want) << std::hex << id;
  }
  EXPECT_EQ(TVelLiveUpdXml::GetLanguageName(0x040A), "Multi-Language");
}

TEST_F(CatalogueTest, GetOsNameReadsTheRunningSystemEachTime) {
  EXPECT_EQ(TVelLiveUpdXml::GetOsName(), "Windows 10 64bit");
  SystemVersion.SetVersion(sys::kVerPlatformWin32Nt, 6, 1, 7601);
  SystemVersion.SetArchitecture(sys::kProcessorArchitectureIntel, false);
  EXPECT_EQ(TVelLiveUpdXml::GetOsName(), "Windows 7");
  SystemVersion.SetVersion(sys::kVerPlatformWin32Nt, 10, 0, 14393, sys::kVerNtServer);
  SystemVersion.SetArchitecture(sys::kProcessorArchitectureAmd64, true);
  EXPECT_EQ(TVelLiveUpdXml::GetOsName(), "Windows 10 64bit");  // a server: the client release's name
  EXPECT_EQ(SystemVersion.VersionQueries, 3);
}

TEST_F(CatalogueTest, ProcessWideCatalogueIsLoadedOnce) {
  test::WriteBytes(Folder.Path() / "first.xml", Catalogue("<Bios><File>/first.zip</File></Bios>"));
  test::WriteBytes(Folder.Path() / "second.xml", Catalogue("<Bios><File>/second.zip</File></Bios>"));

  TVelLiveUpdXml& first = LoadLiveUpdate(Folder.Text("first.xml"));
  TVelLiveUpdXml& second = LoadLiveUpdate(Folder.Text("second.xml"));

  EXPECT_EQ(&first, &second);
  EXPECT_EQ(second.GetBiosFile(), "/first.zip");
  EXPECT_EQ(second.FileName, Folder.Text("first.xml"));
}

}  // namespace
}  // namespace kestrune
