// Speed of the update pipeline's local work: unpacking a 64 MiB package
// with ExtractZip against Info-ZIP's unzip on the same archive in the same
// run (printed as a throughput ratio), and parsing a catalogue of 1,000
// driver entries.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeInternet.h"
#include "sim/os/FakeLocale.h"
#include "sim/os/FakeSystemVersion.h"
#include "sys/Seam.h"
#include "tests/bench/PosixFiles.h"
#include "tests/support/ZipBuilder.h"
#include "update/Compress.h"
#include "update/Velliveupdatexml.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t kMiB = 1 << 20;

// The host's services as the program sees them.
struct World {
  bench::PosixFiles Files;
  sim::FakeCodePage CodePage;
  sim::FakeInternet Internet;
  sim::FakeLocale Locale;
  sim::FakeSystemVersion System = sim::FakeSystemVersion::Windows10Pro64();
  World() {
    sys::Install<sys::IFiles>(Files);
    sys::Install<sys::IFileSystem>(Files);
    sys::Install<sys::ICodePage>(CodePage);
    sys::Install<sys::IInternet>(Internet);
    sys::Install<sys::ILocale>(Locale);
    sys::Install<sys::ISystemVersion>(System);
  }
};

World& TheWorld() {
  static World world;
  return world;
}

test::ScratchFolder& Scratch() {
  static test::ScratchFolder folder;
  return folder;
}

std::string Compressible(std::size_t size, unsigned seed) {
  std::string text;
  text.reserve(size + 64);
  char line[96];
  for (unsigned i = 0; text.size() < size; ++i) {
    const int length = std::snprintf(line, sizeof line, "%08u module=%04X offset=0x%08X value=%u status=OK\n", i,
                                     (i * 31 + seed) & 0xFFFF, i * 4096, (i * 2654435761u + seed) % 100000);
    text.append(line, static_cast<std::size_t>(length));
  }
  text.resize(size);
  return text;
}

std::string Incompressible(std::size_t size, std::uint64_t seed) {
  std::string data(size, '\0');
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    for (std::size_t k = 0; k < 8 && i + k < size; ++k) {
      data[i + k] = static_cast<char>(state >> (8 * k));
    }
  }
  return data;
}

// 64 MiB in four folders: half text-like (deflated), half random (stored,
// as a zip tool stores what does not shrink).
const std::string& Package() {
  static const std::string path = [] {
    std::vector<test::ZipMember> members = {{"BIOS/", ""}, {"BIOS/ROM/", ""}, {"Tools/", ""}, {"Docs/", ""}};
    const char* folders[] = {"BIOS/", "BIOS/ROM/", "Tools/", "Docs/"};
    for (unsigned i = 0; i < 8; ++i) {
      members.push_back({std::string(folders[i % 4]) + "log" + std::to_string(i) + ".txt", Compressible(4 * kMiB, i)});
      members.push_back({std::string(folders[(i + 1) % 4]) + "image" + std::to_string(i) + ".bin",
                         Incompressible(4 * kMiB, i), false});
    }
    const fs::path file = Scratch().Path() / "package.zip";
    test::WriteBytes(file, test::MakeZip(members));
    return file.string();
  }();
  return path;
}

std::string WindowsStyle(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    c = c == '/' ? '\\' : c;
  }
  return text;
}

void BM_ExtractZip(benchmark::State& state) {
  TheWorld();
  const std::string& zip = Package();
  const fs::path dest = Scratch().Path() / "extract";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dest);
    state.ResumeTiming();
    if (ExtractZip(zip, WindowsStyle(dest)) != ZipOutcome::Written) {
      state.SkipWithError("ExtractZip failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 64 * kMiB));
}

void BM_InfoZipUnzip(benchmark::State& state) {
  const std::string& zip = Package();
  const fs::path dest = Scratch().Path() / "unzip";
  const std::string command = "unzip -qq -o '" + zip + "' -d '" + dest.string() + "'";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dest);
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("unzip failed (is Info-ZIP's unzip installed?)");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 64 * kMiB));
}

const std::string& Catalogue1000() {
  static const std::string path = [] {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LiveUpdate>\n"
        "<Download URL=\"Server1\"><Server1>https://dl.velnor.example</Server1></Download>\n"
        "<Bios Date=\"2017/03/01\" Version=\"1.80\"><File Version=\"1.90\">/BIOS/ROM/Z270.zip</File></Bios>\n"
        "<Drivers>\n";
    for (int i = 0; i < 1000; ++i) {
      const std::string n = std::to_string(i);
      xml += "<Driver" + n + " Title=\"Driver " + n + "\" Date=\"2017/01/02\" DriverId=\"D" + n + "\" Version=\"1." +
             n + "\">\n  <Description>Driver number " + n +
             "</Description>\n  <File OS=\"Windows 7 64bit\" Size=\"10\">/drv/" + n +
             "-7.zip</File>\n  <File OS=\"Windows 10 64bit\" Size=\"20\">/drv/" + n +
             "-10.zip</File>\n  <CriticalUpdate>" + std::to_string(i % 2) + "</CriticalUpdate>\n</Driver" + n + ">\n";
    }
    xml += "</Drivers>\n</LiveUpdate>\n";
    const fs::path file = Scratch().Path() / "catalogue.xml";
    test::WriteBytes(file, xml);
    return file.string();
  }();
  return path;
}

void BM_ParseCatalogue1000Drivers(benchmark::State& state) {
  TheWorld();
  const std::string& path = Catalogue1000();
  for (auto _ : state) {
    TVelLiveUpdXml catalogue(path);
    if (catalogue.DriverItems.size() != 1000) {
      state.SkipWithError("the catalogue did not yield 1000 drivers");
      break;
    }
    benchmark::DoNotOptimize(catalogue.GetBiosFile());
  }
  TheWorld().Internet.EvictedUrls.clear();
}

BENCHMARK(BM_ExtractZip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_InfoZipUnzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ParseCatalogue1000Drivers)->Unit(benchmark::kMillisecond);

// Remembers the real time per iteration of each benchmark it shows.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred) {
        Seconds[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Seconds;
};

}  // namespace
}  // namespace kestrune

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kestrune::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto extract = reporter.Seconds.find("BM_ExtractZip");
  const auto unzip = reporter.Seconds.find("BM_InfoZipUnzip");
  if (extract != reporter.Seconds.end() && unzip != reporter.Seconds.end() && extract->second > 0) {
    std::printf("ExtractZip throughput / unzip throughput: %.2f (goal: at least 1.00)\n",
                unzip->second / extract->second);
  }
  benchmark::Shutdown();
  return 0;
}
