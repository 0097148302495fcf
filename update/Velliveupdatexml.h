// The maker's live-update catalogue for one board: BIOS releases, drivers,
// utilities and manuals, and the download server that serves them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/Velxmlbase.h"

namespace kestrune {

// One catalogue entry.
struct TSrvItem {
  std::int32_t CriticalUpdate = 0;
  std::string Title;
  std::string DriverId;
  std::string Version;
  std::string Description;
  std::string FilePath;
  std::string Size;
  std::string Date;
  std::string FileExecute;
  std::string FileParameter;
};

class TVelLiveUpdXml : public TVelXmlBase {
 public:
  // Loads path and parses every section; the lists are final afterwards.
  explicit TVelLiveUpdXml(const std::string& path);
  ~TVelLiveUpdXml() override;

  void ParseAll();
  void ParseDrivers();
  void ParseUtility();
  void ParseManual();
  void ParseBios();

  // The first BIOS entry's package path; empty when there is none.
  std::string GetBiosFile() const;
  // The download server's address, evicted from the WinInet cache; answered
  // only when withUrl is set. An empty name means the one that the
  // "Download" element's "URL" attribute names.
  std::string GetDownloadServer(const std::string& name, bool withUrl) const;
  // The running system's name in the catalogue's "OS" vocabulary.
  static std::string GetOsName();
  // The manual language name of a Windows language identifier.
  static std::string GetLanguageName(std::uint16_t languageId);

  std::vector<TSrvItem> DriverItems;
  std::vector<TSrvItem> UtilityItems;
  std::vector<TSrvItem> ManualItems;
  std::vector<TSrvItem> BiosItems;

 private:
  bool Parsable() const { return Loaded && Root; }
  pugi::xml_node FindElement(const std::string& expression) const;
  void ParseEntries(const char* section, std::vector<TSrvItem>& items);
  std::string EntryFilePath(const std::string& text) const;
};

// The process-wide catalogue: the first call loads path, later calls answer
// the same object whatever their argument. It is never destroyed.
TVelLiveUpdXml& LoadLiveUpdate(const std::string& path);

// The catalogue's name for a system whose TOsVersionVer has these values.
std::string CatalogueOsName(const std::string& versionTag, bool wow64, std::int32_t platformCode);

// A "CriticalUpdate" text: a whole number, white space around it allowed;
// anything else (empty, fractions, trailing text, out of range) is 0.
std::int32_t CriticalUpdateValue(const std::string& text);

}  // namespace kestrune
