#include "update/Velliveupdatexml.h"

#include <cstring>
#include <exception>
#include <limits>

#include "sys/CodePage.h"
#include "sys/Internet.h"
#include "sys/Locale.h"
#include "sys/Seam.h"
#include "update/Osversionver.h"

namespace kestrune {

namespace {

// The document holds UTF-8; the program's texts are in the ANSI code page.
// Bytes that are not UTF-8 (a file in a legacy encoding that declares none)
// are kept as they are.
std::string ToAnsi(const char* utf8) {
  const std::size_t size = std::strlen(utf8);
  bool ascii = true;
  for (std::size_t i = 0; i < size && ascii; ++i) {
    ascii = static_cast<unsigned char>(utf8[i]) < 0x80;
  }
  if (ascii) {
    return std::string(utf8, size);
  }
  sys::ICodePage& codePage = sys::Use<sys::ICodePage>();
  const auto wide = codePage.MultiByteToWideChar(sys::kCpUtf8, std::string(utf8, size));
  return wide ? codePage.WideCharToMultiByte(sys::kCpAcp, *wide) : std::string(utf8, size);
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Character data as the catalogue means it: white space at both ends
// removed and every inner run of it condensed to one blank, so an indented
// document reads as a compact one. CDATA sections stay as written.
std::string Condensed(const char* text) {
  std::string condensed;
  bool pendingBlank = false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (IsXmlSpace(*c)) {
      pendingBlank = !condensed.empty();
      continue;
    }
    if (pendingBlank) {
      condensed.push_back(' ');
      pendingBlank = false;
    }
    condensed.push_back(*c);
  }
  return condensed;
}

// The text of an element: its first child when that is a text node.
std::string TextOf(pugi::xml_node element) {
  const pugi::xml_node first = element.first_child();
  if (first.type() == pugi::node_pcdata) {
    return ToAnsi(Condensed(first.value()).c_str());
  }
  return first.type() == pugi::node_cdata ? ToAnsi(first.value()) : std::string();
}

std::string Attribute(pugi::xml_node element, const char* name) { return ToAnsi(element.attribute(name).value()); }

bool Named(pugi::xml_node element, const char* name) { return std::strcmp(element.name(), name) == 0; }

// A server name that the element path can carry: an XML name, nothing that
// XPath would read as an operator, a predicate or a further step.
bool IsElementName(const std::string& name) {
  if (name.empty()) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) {
      return false;
    }
  }
  return true;
}

// Fields that the File element of a driver, utility or BIOS entry sets.
void TakeFile(pugi::xml_node file, pugi::xml_node entry, const std::string& path, TSrvItem& item) {
  item.Version = Attribute(file, "Version");
  if (item.Version.empty()) {
    item.Version = Attribute(entry, "Version");
  }
  item.Size = Attribute(file, "Size");
  item.FilePath = path;
}

// The children that drivers, utilities and BIOS entries share.
void TakeCommonChild(pugi::xml_node child, TSrvItem& item) {
  if (Named(child, "CriticalUpdate")) {
    item.CriticalUpdate = CriticalUpdateValue(TextOf(child));
  } else if (Named(child, "FileExecute")) {
    item.FileExecute = TextOf(child);
  } else if (Named(child, "FileParameter")) {
    item.FileParameter = TextOf(child);
  }
}

template <class Visit>
void ForEachChildElement(pugi::xml_node parent, Visit visit) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) {
      visit(child);
    }
  }
}

}  // namespace

TVelLiveUpdXml::TVelLiveUpdXml(const std::string& path) : TVelXmlBase(path) {
  LoadFromFile(path);
  ParseAll();
}

TVelLiveUpdXml::~TVelLiveUpdXml() = default;

void TVelLiveUpdXml::ParseAll() {
  ParseDrivers();
  ParseUtility();
  ParseManual();
  ParseBios();
}

pugi::xml_node TVelLiveUpdXml::FindElement(const std::string& expression) const {
  if (!Document) {
    return {};
  }
  try {
    const pugi::xml_node node = Document->select_node(expression.c_str()).node();
    return node.type() == pugi::node_element ? node : pugi::xml_node();
  } catch (const std::exception&) {
    return {};
  }
}

std::string TVelLiveUpdXml::GetDownloadServer(const std::string& name, bool withUrl) const {
  const pugi::xml_node download = FindElement("/LiveUpdate/Download");
  if (!download) {
    return {};
  }
  // The element path is built from the document's own UTF-8 text.
  std::string server = download.attribute("URL").value();
  if (!name.empty()) {
    sys::ICodePage& codePage = sys::Use<sys::ICodePage>();
    const auto wide = codePage.MultiByteToWideChar(sys::kCpAcp, name);
    server = wide ? codePage.WideCharToMultiByte(sys::kCpUtf8, *wide) : name;
  }
  if (!IsElementName(server)) {
    return {};
  }
  const pugi::xml_node element = FindElement("/LiveUpdate/Download/" + server);
  if (!element) {
    return {};
  }
  const std::string url = TextOf(element);
  if (url.empty()) {
    return {};
  }
  sys::Use<sys::IInternet>().DeleteUrlCacheEntryA(url);
  return withUrl ? url : std::string();
}

std::string TVelLiveUpdXml::EntryFilePath(const std::string& text) const {
  return text.empty() ? std::string() : GetDownloadServer({}, false) + text;
}

void TVelLiveUpdXml::ParseEntries(const char* section, std::vector<TSrvItem>& items) {
  if (!Parsable()) {
    return;
  }
  const std::string osName = GetOsName();
  const pugi::xml_node list = FindElement(section);
  ForEachChildElement(list, [&](pugi::xml_node entry) {
    TSrvItem item;
    bool matched = false;
    ForEachChildElement(entry, [&](pugi::xml_node child) {
      if (Named(child, "Description")) {
        item.Description = TextOf(child);
      } else if (Named(child, "File")) {
        if (Attribute(child, "OS") == osName) {
          item.Title = Attribute(entry, "Title");
          item.Date = Attribute(entry, "Date");
          item.DriverId = Attribute(entry, "DriverId");
          TakeFile(child, entry, EntryFilePath(TextOf(child)), item);
          matched = true;
        }
      } else {
        TakeCommonChild(child, item);
      }
    });
    if (matched) {
      items.push_back(std::move(item));
    }
  });
}

void TVelLiveUpdXml::ParseDrivers() { ParseEntries("/LiveUpdate/Drivers", DriverItems); }

void TVelLiveUpdXml::ParseUtility() { ParseEntries("/LiveUpdate/Utility", UtilityItems); }

void TVelLiveUpdXml::ParseManual() {
  if (!Parsable()) {
    return;
  }
  const std::string userLanguage = GetLanguageName(sys::Use<sys::ILocale>().GetUserDefaultLangID());
  ForEachChildElement(FindElement("/LiveUpdate/Manual"), [&](pugi::xml_node manual) {
    if (!Named(manual, "Manual")) {
      return;
    }
    const std::string language = Attribute(manual, "Language");
    if (language == userLanguage || language == "English" || language == "Multi-Language") {
      TSrvItem item;
      item.Title = Attribute(manual, "Title");
      item.Version = language;
      item.FilePath = EntryFilePath(TextOf(manual));
      ManualItems.push_back(std::move(item));
    }
  });
}

void TVelLiveUpdXml::ParseBios() {
  if (!Parsable()) {
    return;
  }
  ForEachChildElement(FindElement("/LiveUpdate"), [&](pugi::xml_node bios) {
    if (!BiosItems.empty() || !Named(bios, "Bios")) {
      return;
    }
    TSrvItem item;
    item.Title = "BIOS";
    bool matched = false;
    ForEachChildElement(bios, [&](pugi::xml_node child) {
      if (Named(child, "Description")) {
        item.Description = TextOf(child);
      } else if (Named(child, "File")) {
        item.Date = Attribute(bios, "Date");
        TakeFile(child, bios, EntryFilePath(TextOf(child)), item);
        matched = true;
      } else {
        TakeCommonChild(child, item);
      }
    });
    if (matched) {
      BiosItems.push_back(std::move(item));
    }
  });
}

std::string TVelLiveUpdXml::GetBiosFile() const {
  return Loaded && Root && !BiosItems.empty() ? BiosItems.front().FilePath : std::string();
}

std::string TVelLiveUpdXml::GetOsName() {
  const TOsVersionVer system;
  return CatalogueOsName(system.VersionTag, system.Wow64, system.PlatformCode);
}

std::string CatalogueOsName(const std::string& versionTag, bool wow64, std::int32_t platformCode) {
  static constexpr struct {
    const char* Version;
    const char* Name;
  } kReleases[] = {
      {"10.0", "Windows 10"}, {"6.3", "Windows 8.1"},   {"6.2", "Windows 8"},
      {"6.1", "Windows 7"},   {"6.0", "Windows Vista"},
  };
  for (const auto& release : kReleases) {
    if (versionTag.find(release.Version) != std::string::npos) {
      return std::string(release.Name) + (wow64 ? " 64bit" : "");
    }
  }
  switch (platformCode) {
    case 1:
      return "Windows XP";
    case 3:
      return "Windows XP 64bit";
    default:
      return {};
  }
}

std::string TVelLiveUpdXml::GetLanguageName(std::uint16_t languageId) {
  static constexpr struct {
    std::uint16_t Id;
    const char* Name;
  } kLanguages[] = {
      {0x0404, "T.Chinese"}, {0x0C04, "T.Chinese"}, {0x1004, "T.Chinese"}, {0x1404, "T.Chinese"}, {0x0407, "German"},
      {0x0807, "German"},    {0x0C07, "German"},    {0x1007, "German"},    {0x1407, "German"},    {0x0409, "English"},
      {0x0809, "English"},   {0x0C09, "English"},   {0x1009, "English"},   {0x1409, "English"},   {0x1809, "English"},
      {0x1C09, "English"},   {0x2009, "English"},   {0x2409, "English"},   {0x2809, "English"},   {0x2C09, "English"},
      {0x3009, "English"},   {0x3409, "English"},   {0x4009, "English"},   {0x4409, "English"},   {0x4809, "English"},
      {0x040C, "French"},    {0x080C, "French"},    {0x0C0C, "French"},    {0x100C, "French"},    {0x140C, "French"},
      {0x180C, "French"},    {0x0410, "Italian"},   {0x0810, "Italian"},   {0x0411, "Japanese"},  {0x0412, "Korean"},
      {0x0804, "S.Chinese"}, {0x080A, "Spanish"},   {0x0C0A, "Spanish"},   {0x100A, "Spanish"},   {0x140A, "Spanish"},
      {0x180A, "Spanish"},   {0x1C0A, "Spanish"},   {0x200A, "Spanish"},   {0x240A, "Spanish"},   {0x280A, "Spanish"},
      {0x2C0A, "Spanish"},   {0x300A, "Spanish"},   {0x340A, "Spanish"},   {0x380A, "Spanish"},   {0x3C0A, "Spanish"},
      {0x400A, "Spanish"},   {0x440A, "Spanish"},   {0x480A, "Spanish"},   {0x4C0A, "Spanish"},   {0x500A, "Spanish"},
  };
  for (const auto& language : kLanguages) {
    if (language.Id == languageId) {
      return language.Name;
    }
  }
  return "Multi-Language";
}

std::int32_t CriticalUpdateValue(const std::string& text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && space(text[begin])) {
    ++begin;
  }
  while (end > begin && space(text[end - 1])) {
    --end;
  }
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
    negative = text[begin] == '-';
    ++begin;
  }
  if (begin == end) {
    return 0;
  }
  std::int64_t value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return 0;
    }
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
      return 0;
    }
  }
  value = negative ? -value : value;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(value);
}

TVelLiveUpdXml& LoadLiveUpdate(const std::string& path) {
  static TVelLiveUpdXml* const catalogue = new TVelLiveUpdXml(path);
  return *catalogue;
}

}  // namespace kestrune
