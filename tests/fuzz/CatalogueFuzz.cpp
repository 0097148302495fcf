// Catalogue bytes through the live-update catalogue: load, parse every
// section, answer the BIOS question. Nothing may crash or hang, and the
// answers must agree with the parsed lists.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeInternet.h"
#include "sim/os/FakeLocale.h"
#include "sim/os/FakeSystemVersion.h"
#include "sys/Seam.h"
#include "tests/fuzz/ScratchFile.h"
#include "update/Velliveupdatexml.h"

namespace {

using namespace kestrune;

struct World {
  sim::FakeCodePage CodePage;
  sim::FakeInternet Internet;
  sim::FakeLocale Locale;
  sim::FakeSystemVersion System = sim::FakeSystemVersion::Windows10Pro64();
  World() {
    sys::Install<sys::ICodePage>(CodePage);
    sys::Install<sys::IInternet>(Internet);
    sys::Install<sys::ILocale>(Locale);
    sys::Install<sys::ISystemVersion>(System);
  }
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "catalogue fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  static const std::string path = fuzz::ScratchPath(".xml");
  if (!fuzz::WriteScratch(path.c_str(), data, size)) {
    return 0;
  }

  // What LoadLiveUpdate builds, once per input: the process-wide object
  // itself can be loaded only once.
  TVelLiveUpdXml catalogue(path);
  const std::string bios = catalogue.GetBiosFile();
  if (!catalogue.Loaded) {
    Check(catalogue.BiosItems.empty() && catalogue.DriverItems.empty() && catalogue.UtilityItems.empty() &&
              catalogue.ManualItems.empty(),
          "an unloaded catalogue has entries");
  }
  Check(catalogue.BiosItems.size() <= 1, "more than one BIOS entry");
  Check(bios == (catalogue.BiosItems.empty() ? std::string() : catalogue.BiosItems[0].FilePath),
        "GetBiosFile disagrees with the BIOS entry");
  for (const TSrvItem& item : catalogue.BiosItems) {
    Check(item.Title == "BIOS", "BIOS entry without its title");
  }
  for (const TSrvItem& item : catalogue.ManualItems) {
    Check(item.Version == "English" || item.Version == "Multi-Language", "manual in another language");
  }
  catalogue.GetDownloadServer("", true);
  (void)LoadLiveUpdate(path).GetBiosFile();
  world.Internet.EvictedUrls.clear();
  return 0;
}
