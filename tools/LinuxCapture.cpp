#include "tools/LinuxCapture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace kestrune::tools {

namespace {

constexpr std::uint64_t kBiosArea = 0xE0000;
constexpr std::uint32_t kBiosAreaLength = 0x20000;
constexpr std::uint32_t kMaxTable = 0x01000000;
constexpr const char* kPlatformConfigFile = "VelnorPlatformConfig-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9";
constexpr const char* kPlatformConfigGuid = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}";

std::optional<sim::Bytes> ReadWhole(const std::string& path, std::size_t limit = kMaxTable) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  sim::Bytes bytes;
  char buffer[4096];
  while (file && bytes.size() < limit) {
    file.read(buffer, sizeof buffer);
    bytes.insert(bytes.end(), buffer, buffer + file.gcount());
  }
  if (bytes.size() > limit) {
    bytes.resize(limit);
  }
  return bytes;
}

// The names in a folder, sorted; empty when it cannot be listed.
std::vector<std::string> List(const std::string& folder, bool filesOnly) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    return names;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat info {};
    if (name == "." || name == ".." || stat((folder + "/" + name).c_str(), &info) != 0) {
      continue;
    }
    if (!filesOnly || S_ISREG(info.st_mode)) {
      names.push_back(name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// /dev/mem, read only, where the kernel lets it be read.
class PhysicalReader {
 public:
  explicit PhysicalReader(const std::string& device) : fd_(open(device.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~PhysicalReader() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  PhysicalReader(const PhysicalReader&) = delete;
  PhysicalReader& operator=(const PhysicalReader&) = delete;

  bool Open() const { return fd_ >= 0; }
  std::optional<sim::Bytes> Read(std::uint64_t address, std::uint32_t length) const {
    if (fd_ < 0 || length == 0 || length > kMaxTable) {
      return std::nullopt;
    }
    sim::Bytes bytes(length);
    for (std::uint32_t done = 0; done < length;) {
      const ssize_t got = pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(address + done));
      if (got <= 0) {
        return std::nullopt;
      }
      done += static_cast<std::uint32_t>(got);
    }
    return bytes;
  }
  // A table whose length its header gives.
  std::optional<sim::Bytes> ReadTable(std::uint64_t address) const {
    const std::optional<sim::Bytes> header = Read(address, 8);
    if (!header) {
      return std::nullopt;
    }
    const std::uint32_t length = Le32(header->data() + 4);
    return length < 36 ? std::nullopt : Read(address, length);
  }

 private:
  int fd_;
};

class LinuxCapture {
 public:
  LinuxCapture(const LinuxSources& sources) : sources_(sources), memory_(sources.MemoryDevice) {}

  sim::Board Run(const CaptureOptions& options) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
      host[0] = '\0';
    }
    board_.Name = CaptureName(host);
    Cpu();
    Pci();
    BiosArea();
    Acpi();
    Smbios();
    Variable();
    // The board's default disks: one GPT disk 0 that holds the system volume.
    missing_.push_back("disks: the Windows storage stack is not read on Linux; one GPT disk 0 stands for it");
    if (options.BlankSerials) {
      BlankBoardSerials(board_);
    }
    board_.Capture = sim::BoardCapture{"linux", missing_};
    return board_;
  }

 private:
  std::string Sys(const std::string& path) const { return sources_.Sysfs + path; }

  bool Cpuid(std::uint32_t leaf, std::uint32_t registers[4]) {
    const int fd = open(sources_.CpuidDevice.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      const ssize_t got = pread(fd, registers, 16, static_cast<off_t>(leaf));
      close(fd);
      if (got == 16) {
        return true;
      }
    }
#if defined(__x86_64__) || defined(__i386__)
    __cpuid(leaf, registers[0], registers[1], registers[2], registers[3]);
    cpuidInstruction_ = true;
    return true;
#else
    return false;
#endif
  }

  void Cpu() {
    std::uint32_t r[4] = {};
    if (!Cpuid(0, r)) {
      missing_.push_back("cpu: neither " + sources_.CpuidDevice + " nor the CPUID instruction answers");
      return;
    }
    std::string vendor;
    for (std::uint32_t word : {r[1], r[3], r[2]}) {
      for (int i = 0; i < 4; ++i) {
        vendor.push_back(static_cast<char>(word >> (8 * i)));
      }
    }
    vendor.erase(std::find(vendor.begin(), vendor.end(), '\0'), vendor.end());
    board_.Cpu.Vendor = vendor;
    Cpuid(1, r);
    board_.Cpu.Signature = r[0];
    std::string brand;
    for (std::uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
      Cpuid(leaf, r);
      for (std::uint32_t word : r) {
        for (int i = 0; i < 4; ++i) {
          brand.push_back(static_cast<char>(word >> (8 * i)));
        }
      }
    }
    brand.erase(std::find(brand.begin(), brand.end(), '\0'), brand.end());
    board_.Cpu.Brand = brand;
    if (cpuidInstruction_) {
      missing_.push_back("cpu: " + sources_.CpuidDevice + " not readable; the CPUID instruction answered");
    }
  }

  void Pci() {
    const std::string folder = Sys("/bus/pci/devices");
    for (const std::string& name : List(folder, false)) {
      unsigned domain = 0, bus = 0, device = 0, function = 0;
      char end = 0;
      if (std::sscanf(name.c_str(), "%4x:%2x:%2x.%1x%c", &domain, &bus, &device, &function, &end) != 4 || device > 31 ||
          function > 7 || bus > 255) {
        continue;
      }
      if (domain != 0) {
        missing_.push_back("pci " + name + ": only segment 0 is read by the program");
        continue;
      }
      std::optional<sim::Bytes> config = ReadWhole(folder + "/" + name + "/config", 256);
      if (!config || config->size() < 64) {
        missing_.push_back("pci " + name + ": its configuration space could not be read");
        continue;
      }
      if (config->size() < 256) {
        missing_.push_back("pci " + name + ": only " + std::to_string(config->size()) +
                           " configuration bytes readable (not root?)");
      }
      board_.Pci.push_back({static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                            static_cast<std::uint8_t>(function), std::move(*config)});
    }
    if (board_.Pci.empty()) {
      missing_.push_back("pci: no function listed in " + folder);
    }
  }

  void BiosArea() {
    std::optional<sim::Bytes> area = memory_.Read(kBiosArea, kBiosAreaLength);
    if (!area) {
      missing_.push_back("bios area: " + sources_.MemoryDevice + " not readable there");
      return;
    }
    board_.Memory.push_back({kBiosArea, std::move(*area)});
  }

  // The firmware's own pointers from the EFI system table, where Linux
  // shows it: "ACPI20=0x...", "SMBIOS3=0x...".
  std::map<std::string, std::uint64_t> SystemTable() const {
    std::map<std::string, std::uint64_t> values;
    std::ifstream file(Sys("/firmware/efi/systab"));
    std::string line;
    while (std::getline(file, line)) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) {
        values[line.substr(0, equals)] = std::strtoull(line.c_str() + equals + 1, nullptr, 0);
      }
    }
    return values;
  }

  std::optional<std::uint64_t> FindRsdp() const {
    for (const sim::BoardMemoryRegion& area : board_.Memory) {
      for (std::size_t at = 0; at + 20 <= area.Data.size(); at += 16) {
        const std::uint8_t* p = area.Data.data() + at;
        std::uint8_t sum = 0;
        for (int i = 0; i < 20; ++i) {
          sum = static_cast<std::uint8_t>(sum + p[i]);
        }
        if (std::memcmp(p, "RSD PTR ", 8) == 0 && sum == 0) {
          return area.Address + at;
        }
      }
    }
    const std::map<std::string, std::uint64_t> systab = SystemTable();
    for (const char* key : {"ACPI20", "ACPI"}) {
      if (systab.count(key) != 0) {
        return systab.at(key);
      }
    }
    return std::nullopt;
  }

  // The tables at the addresses the firmware gave them: the root pointer,
  // the RSDT and XSDT, what they list and what the FADTs point at.
  bool PlaceAcpi(sim::BoardAcpi& acpi) {
    const std::optional<std::uint64_t> rsdpAddress = FindRsdp();
    if (!rsdpAddress) {
      missing_.push_back("acpi: no root pointer found (bios area and EFI system table)");
      return false;
    }
    std::optional<sim::Bytes> rsdp = memory_.Read(*rsdpAddress, 20);
    if (!rsdp) {
      missing_.push_back("acpi: the root pointer at " + HexAddress(*rsdpAddress) + " is not readable");
      return false;
    }
    if ((*rsdp)[15] >= 2) {
      // Revision 2 and later: 36 bytes or more, as its length field says.
      rsdp = memory_.Read(*rsdpAddress, 36);
      const std::uint32_t length = rsdp ? Le32(rsdp->data() + 20) : 0;
      if (rsdp && length > 36 && length <= 4096) {
        rsdp = memory_.Read(*rsdpAddress, length);
      }
      if (!rsdp) {
        missing_.push_back("acpi: the root pointer at " + HexAddress(*rsdpAddress) + " is not readable");
        return false;
      }
    }
    acpi.Placed.push_back({*rsdpAddress, *rsdp});
    std::set<std::uint64_t> seen{*rsdpAddress};
    std::vector<std::uint64_t> pending{Le32(rsdp->data() + 16)};
    if (rsdp->size() >= 32) {
      pending.push_back(Le64(rsdp->data() + 24));
    }
    while (!pending.empty()) {
      const std::uint64_t address = pending.front();
      pending.erase(pending.begin());
      if (address == 0 || !seen.insert(address).second) {
        continue;
      }
      const std::optional<sim::Bytes> table = memory_.ReadTable(address);
      if (!table) {
        missing_.push_back("acpi: the table at " + HexAddress(address) + " is not readable");
        continue;
      }
      const std::string signature(table->begin(), table->begin() + 4);
      if (signature == "RSDT" || signature == "XSDT") {
        const std::size_t width = signature == "RSDT" ? 4 : 8;
        for (std::size_t at = 36; at + width <= table->size(); at += width) {
          pending.push_back(width == 4 ? Le32(table->data() + at) : Le64(table->data() + at));
        }
      } else if (signature == kFadtSignatureText && table->size() >= 44) {
        pending.push_back(Le32(table->data() + 36));
        pending.push_back(Le32(table->data() + 40));
        if (table->size() >= 148) {
          pending.push_back(Le64(table->data() + 132));
          pending.push_back(Le64(table->data() + 140));
        }
      }
      acpi.Placed.push_back({address, *table});
    }
    return true;
  }

  // The kernel's copies, laid out by the board from a base: the FADTs
  // first, the FACS and DSDT last.
  void LayOutAcpi(const std::vector<sim::Bytes>& tables, sim::BoardAcpi& acpi) {
    std::vector<sim::Bytes> first;
    std::vector<sim::Bytes> middle;
    std::vector<sim::Bytes> last;
    for (const sim::Bytes& table : tables) {
      const std::string signature(table.begin(), table.begin() + 4);
      (signature == kFadtSignatureText                ? first
       : (signature == "FACS" || signature == "DSDT") ? last
                                                      : middle)
          .push_back(table);
    }
    acpi.Tables = first;
    acpi.Tables.insert(acpi.Tables.end(), middle.begin(), middle.end());
    acpi.Tables.insert(acpi.Tables.end(), last.begin(), last.end());
    acpi.Rsdp = 0xF0000;
    acpi.Base = 0x7FF00000;
    missing_.push_back(
        "acpi: the tables' addresses are unknown; they are laid out from 0x7FF00000 with an RSDT and a "
        "revision-0 root pointer at 0xF0000 that the board builds");
  }

  void Acpi() {
    const std::string folder = Sys("/firmware/acpi/tables");
    std::vector<sim::Bytes> tables;
    for (const std::string& name : List(folder, true)) {
      std::optional<sim::Bytes> table = ReadWhole(folder + "/" + name);
      if (!table || table->size() < 36 || Le32(table->data() + 4) != table->size()) {
        missing_.push_back("acpi " + name + ": not readable as a whole table");
        continue;
      }
      tables.push_back(std::move(*table));
    }
    sim::BoardAcpi acpi;
    if (!memory_.Open() || !PlaceAcpi(acpi)) {
      acpi.Placed.clear();
      if (!tables.empty()) {
        LayOutAcpi(tables, acpi);
      }
    } else {
      // What the kernel lists but the firmware's pointers did not reach.
      for (const sim::Bytes& table : tables) {
        if (std::none_of(acpi.Placed.begin(), acpi.Placed.end(),
                         [&](const sim::BoardMemoryRegion& placed) { return placed.Data == table; })) {
          acpi.Unplaced.push_back(table);
        }
      }
    }
    for (const std::string& name : List(folder + "/dynamic", true)) {
      if (std::optional<sim::Bytes> table = ReadWhole(folder + "/dynamic/" + name); table && table->size() >= 36) {
        acpi.Unplaced.push_back(std::move(*table));
      }
    }
    if (tables.empty() && acpi.Placed.empty()) {
      missing_.push_back("acpi: no table in " + folder);
    }
    // The SMI command port of the first FADT.
    std::vector<sim::Bytes> candidates = tables;
    for (const sim::BoardMemoryRegion& table : acpi.Placed) {
      candidates.push_back(table.Data);
    }
    std::uint16_t port = 0;
    for (const sim::Bytes& table : candidates) {
      if (port == 0 && table.size() >= 52 && std::memcmp(table.data(), "FACP", 4) == 0) {
        port = static_cast<std::uint16_t>(Le32(table.data() + 48));
      }
    }
    smiPort_ = port;
    if (!acpi.Tables.empty() || !acpi.Placed.empty() || !acpi.Unplaced.empty()) {
      board_.Acpi = std::move(acpi);
    }
  }

  void Smbios() {
    const std::optional<sim::Bytes> entry = ReadWhole(Sys("/firmware/dmi/tables/smbios_entry_point"), 64);
    const std::optional<sim::Bytes> table = ReadWhole(Sys("/firmware/dmi/tables/DMI"));
    if (!entry || !table || entry->size() < 24) {
      missing_.push_back("smbios: no /sys/firmware/dmi/tables");
      return;
    }
    sim::BoardSmbios smbios;
    // Where the firmware put the entry point: in the BIOS area, or where
    // the EFI system table says.
    std::optional<std::uint64_t> entryAddress;
    for (const sim::BoardMemoryRegion& area : board_.Memory) {
      const std::optional<sim::BoardMemoryRegion> found = FindSmbiosEntryPoint(area);
      if (found && found->Data == *entry) {
        entryAddress = found->Address;
      }
    }
    const std::map<std::string, std::uint64_t> systab = SystemTable();
    for (const char* key : {"SMBIOS3", "SMBIOS"}) {
      if (!entryAddress && systab.count(key) != 0) {
        entryAddress = systab.at(key);
      }
    }
    std::uint64_t tableAddress = 0;
    std::uint32_t tableLength = 0;
    if (entryAddress && SmbiosTableOf(*entry, tableAddress, tableLength)) {
      smbios.EntryPoint = sim::BoardMemoryRegion{*entryAddress, *entry};
      smbios.Table = sim::BoardMemoryRegion{tableAddress, *table};
    } else {
      missing_.push_back("smbios: the entry point's address is unknown; only the firmware-table copy is kept");
    }
    // RawSMBIOSData, as Windows' firmware-table interface returns it.
    const bool three = std::memcmp(entry->data(), "_SM3_", 5) == 0;
    sim::Bytes copy(8, 0);
    copy[1] = three ? (*entry)[7] : (*entry)[6];
    copy[2] = three ? (*entry)[8] : (*entry)[7];
    copy[3] = three ? (*entry)[9] : 0;
    const auto length = static_cast<std::uint32_t>(table->size());
    for (int i = 0; i < 4; ++i) {
      copy[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    copy.insert(copy.end(), table->begin(), table->end());
    smbios.FirmwareTable = std::move(copy);
    board_.Smbios = std::move(smbios);
  }

  void Variable() {
    board_.Smi = sim::BoardSmi{smiPort_, {}};
    if (smiPort_ == 0) {
      missing_.push_back("smi: the FADT names no SMI command port");
    }
    const std::string path = Sys("/firmware/efi/efivars/") + kPlatformConfigFile;
    const std::optional<sim::Bytes> file = ReadWhole(path, 4 + 8192);
    if (!file || file->size() < 4) {
      missing_.push_back("smi: no variable VelnorPlatformConfig (" + path + ")");
      return;
    }
    sim::BoardVariable variable;
    variable.Name = u"VelnorPlatformConfig";
    variable.VendorGuid = *sim::ParseGuid(kPlatformConfigGuid);
    variable.Attributes = Le32(file->data());
    variable.Data.assign(file->begin() + 4, file->end());
    board_.Smi->Variables.push_back(std::move(variable));
  }

  const LinuxSources& sources_;
  PhysicalReader memory_;
  sim::Board board_;
  std::vector<std::string> missing_;
  std::uint16_t smiPort_ = 0;
  bool cpuidInstruction_ = false;
};

}  // namespace

sim::Board CaptureLinuxMachine(const CaptureOptions& options, const LinuxSources& sources) {
  return LinuxCapture(sources).Run(options);
}

}  // namespace kestrune::tools
