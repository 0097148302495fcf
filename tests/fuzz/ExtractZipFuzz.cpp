// Archive bytes through ExtractZip into a scratch folder of an in-memory
// Windows file system: whatever the archive holds, nothing may be created
// outside that folder, a refused archive leaves nothing inside it, and no
// handle may stay open.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/os/FakeCodePage.h"
#include "sim/os/FakeFileSystem.h"
#include "sys/Seam.h"
#include "tests/fuzz/ScratchFile.h"
#include "update/Compress.h"

namespace {

using namespace kestrune;

constexpr const char16_t* kScratch = u"C:\\Scratch\\ROM";

bool Inside(const std::u16string& path) {
  const std::u16string root = kScratch;
  return path == root || path.starts_with(root + u"\\");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static sim::FakeCodePage codePage;
  static const bool installed = [] {
    sys::Install<sys::ICodePage>(codePage);
    return true;
  }();
  (void)installed;
  // The zip library reads the archive from a file.
  const char* path = fuzz::ScratchPath(".zip");
  if (!fuzz::WriteScratch(path, data, size)) {
    return 0;
  }

  sim::FakeFileSystem disk;
  disk.AddFolder(u"C:\\Scratch");
  disk.FreeSpace = 16u << 20;  // archives that inflate beyond this fail on the disk
  sys::ScopedSeam<sys::IFiles> files(disk);
  sys::ScopedSeam<sys::IFileSystem> fileSystem(disk);

  const ZipOutcome outcome = ExtractZip(path, "C:\\Scratch\\ROM");

  for (const std::u16string& written : disk.AllFiles()) {
    if (!Inside(written)) {
      std::fprintf(stderr, "extract fuzz: file outside the folder: %s\n", sim::FakeFileSystem::Narrow(written).c_str());
      std::abort();
    }
  }
  for (const std::u16string& folder : disk.AllFolders()) {
    if (folder != u"C:\\Scratch" && !Inside(folder)) {
      std::fprintf(stderr, "extract fuzz: folder outside: %s\n", sim::FakeFileSystem::Narrow(folder).c_str());
      std::abort();
    }
  }
  if (outcome == ZipOutcome::Refused) {
    for (const std::u16string& left : disk.AllFiles()) {
      std::fprintf(stderr, "extract fuzz: refused, yet left: %s\n", sim::FakeFileSystem::Narrow(left).c_str());
      std::abort();
    }
    for (const std::u16string& folder : disk.AllFolders()) {
      if (folder != u"C:\\Scratch" && folder != kScratch) {
        std::fprintf(stderr, "extract fuzz: refused, yet left: %s\n", sim::FakeFileSystem::Narrow(folder).c_str());
        std::abort();
      }
    }
  }
  if (disk.OpenHandles() != 0) {
    std::fprintf(stderr, "extract fuzz: a file handle stayed open\n");
    std::abort();
  }
  return 0;
}
