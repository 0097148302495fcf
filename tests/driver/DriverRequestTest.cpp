// The driver's requests, byte for byte, through its request core on a
// simulated board: what it answers, what it refuses, and that it writes
// nowhere but the request, its own buffers and the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"
#include "driver/RequestCore.h"
#include "sim/board/BoardMachine.h"
#include "sys/Seam.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FirmwareFixtures.h"

namespace kestrune {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::FadtNaming;

constexpr sys::Dword kInvalidFunction = 1;
constexpr sys::Dword kAccessDenied = 5;
constexpr sys::Dword kInvalidParameter = 87;
constexpr sys::Dword kNotEnoughQuota = 1816;
constexpr sys::Dword kNoSystemResources = 1450;

constexpr std::uint64_t kDeviceMemory = 0xFED40000;  // not RAM: a device's registers (a TPM's)
// The firmware's tables, as the board lays them out from 0x7FF00000: the
// FADT, the DSDT, then the RSDT; and the SMBIOS table its entry point names.
constexpr std::uint64_t kFadt = 0x7FF00000;
constexpr std::uint32_t kFadtLength = 244;
constexpr std::uint64_t kDsdt = 0x7FF00100;
constexpr std::uint32_t kDsdtLength = 40;
constexpr std::uint64_t kRsdt = 0x7FF00130;
constexpr std::uint32_t kRsdtLength = 40;
constexpr std::uint64_t kSmbiosTable = 0x7FE00000;
constexpr std::uint16_t kSmbiosTableLength = 0x60;
constexpr std::uint64_t kRamStart = 0x00100000;
constexpr std::uint64_t kRamLength = 0x0FF00000;  // 1 MiB to 256 MiB
const sim::Guid kGuid = *sim::ParseGuid("{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}");

Bytes MemoryRequest(std::uint64_t physical, std::uint32_t length, const void* buffer, std::uint32_t unit = 0) {
  Bytes request(24, 0);
  PutLe64(request.data() + 0, physical);
  PutLe32(request.data() + 8, length);
  PutLe32(request.data() + 12, unit);
  PutLe64(request.data() + 16, reinterpret_cast<std::uintptr_t>(buffer));
  return request;
}

Bytes PciRequest(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint16_t reg) {
  // The unused bytes carry marks: they must travel back unchanged.
  Bytes request{
      bus,  device, function, 0x5A, static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8), 0xA5, 0x3C,
      0x11, 0x22,   0x33,     0x44};
  return request;
}

Bytes BufferRequest(std::uint32_t size, std::uint64_t handle = 0) {
  Bytes request(16, 0);
  PutLe32(request.data() + 0, size);
  PutLe32(request.data() + 4, handle == 0 ? kPhysicalAddressRequested : 0);
  PutLe64(request.data() + 8, handle);
  return request;
}

Bytes SmiRequest(std::uint32_t eax, std::uint32_t ebx, std::uint32_t edx, std::uint32_t esi) {
  Bytes request(24, 0);
  PutLe32(request.data() + 0, eax);
  PutLe32(request.data() + 4, ebx);
  PutLe32(request.data() + 8, 0x0C0C0C0C);
  PutLe32(request.data() + 12, edx);
  PutLe32(request.data() + 16, esi);
  PutLe32(request.data() + 20, 0x0D0D0D0D);
  return request;
}

struct Answer {
  bool Ok = false;
  sys::Dword Error = 0;
  sys::Dword Returned = 0;
  Bytes Out;
};

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xCC;

class DriverRequestTest : public test::BoardFixture {
 protected:
  DriverRequestTest() {
    Board.Memory.push_back({kDeviceMemory, *sim::ParseHex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF")});
    sim::BoardMemoryRegion bios{0xE0000, sim::Bytes(0x20000, 0)};
    for (std::size_t i = 0; i < bios.Data.size(); ++i) {
      bios.Data[i] = static_cast<std::uint8_t>(i * 7);
    }
    Board.Memory.push_back(std::move(bios));
    Board.SystemRam = {{0x0, 0xA0000}, {kRamStart, kRamLength}};
    Board.Pci.push_back({0, 31, 0, *sim::ParseHex("86 80 C5 A2 07 00 10 00")});
    Board.Acpi = sim::BoardAcpi{0xF0000, kFadt, {FadtNaming(0xB2), sim::MakeAcpiTable("DSDT", Bytes(4, 0))}, {}, {}};
    Board.Smbios =
        sim::BoardSmbios{sim::BoardMemoryRegion{0xF0800, test::SmbiosEntryPoint(kSmbiosTableLength, kSmbiosTable)},
                         sim::BoardMemoryRegion{kSmbiosTable, sim::Bytes(kSmbiosTableLength, 0x5A)},
                         {}};
    Board.Smi = sim::BoardSmi{0xB2, {{u"VelnorPlatformConfig", kGuid, 7, {0x01, 0x02, 0x03, 0x04}}}};
  }

  void SetUp() override {
    Boot();
    Machine().LoadDriver();
    Device = Open();
    ASSERT_NE(Device, sys::kInvalidHandleValue);
  }
  void TearDown() override {
    for (sys::FileHandle handle : Opened) {
      Files().CloseHandle(handle);
    }
  }

  sys::IFiles& Files() { return sys::Use<sys::IFiles>(); }
  sys::FileHandle Open(sys::Dword access = sys::kGenericRead | sys::kGenericWrite) {
    const sys::FileHandle handle = Files().CreateFileA("\\\\.\\VelDrv101", access, 0, sys::kOpenExisting, 0);
    if (handle != sys::kInvalidHandleValue) {
      Opened.push_back(handle);
    }
    return handle;
  }

  // One request; the output buffer is followed by guard bytes that must
  // stay untouched, and on failure the whole output stays untouched.
  Answer Send(sys::FileHandle handle, std::uint32_t code, const Bytes& in, std::uint32_t outSize) {
    Bytes out(outSize + kGuard, kGuardByte);
    Answer answer;
    answer.Returned = 0xDEADBEEF;
    answer.Ok =
        Files().DeviceIoControl(handle, code, in.empty() ? nullptr : in.data(), static_cast<sys::Dword>(in.size()),
                                outSize == 0 ? nullptr : out.data(), outSize, &answer.Returned);
    answer.Error = answer.Ok ? 0 : Files().GetLastError();
    for (std::size_t i = answer.Ok ? answer.Returned : 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i], kGuardByte) << "byte " << i << " of the output was written";
    }
    if (!answer.Ok) {
      EXPECT_EQ(answer.Returned, 0u);
    }
    out.resize(outSize);
    answer.Out = out;
    return answer;
  }
  Answer Send(std::uint32_t code, const Bytes& in, std::uint32_t outSize) { return Send(Device, code, in, outSize); }

  struct Buffer {
    std::uint32_t Physical = 0;
    std::uint64_t Handle = 0;
  };
  Buffer Allocate(sys::FileHandle handle, std::uint32_t size) {
    const Answer a = Send(handle, kIoctlPhysicalBuffer, BufferRequest(size), 16);
    EXPECT_TRUE(a.Ok) << a.Error;
    return a.Ok ? Buffer{Le32(a.Out.data() + 4), Le64(a.Out.data() + 8)} : Buffer{};
  }
  Buffer Allocate(std::uint32_t size) { return Allocate(Device, size); }
  void WriteOwn(std::uint64_t physical, const Bytes& data) {
    ASSERT_TRUE(Send(kIoctlWritePhysicalMemory,
                     MemoryRequest(physical, static_cast<std::uint32_t>(data.size()), data.data()), 24)
                    .Ok);
  }

  // A read through this handle, answered byte for byte or refused with the
  // caller's buffer untouched.
  template <typename Case>
  void ExpectRead(const Case& c) {
    Bytes target(c.Length + kGuard, kGuardByte);
    const Bytes in = MemoryRequest(c.Address, c.Length, target.data(), c.Unit);
    const Answer a = Send(kIoctlReadPhysicalMemory, in, 24);
    if (c.Error != 0) {
      EXPECT_FALSE(a.Ok);
      EXPECT_EQ(a.Error, c.Error);
      EXPECT_EQ(target, Bytes(c.Length + kGuard, kGuardByte));
      return;
    }
    ASSERT_TRUE(a.Ok) << a.Error;
    EXPECT_EQ(a.Returned, 24u);
    EXPECT_EQ(a.Out, in);
    Bytes expected(c.Length + 1);
    Machine().Memory().Read(c.Address, expected.data(), c.Length);
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + c.Length, target.begin()));
    EXPECT_EQ(Bytes(target.begin() + c.Length, target.end()), Bytes(kGuard, kGuardByte));
  }

  sys::FileHandle Device = sys::kInvalidHandleValue;
  std::vector<sys::FileHandle> Opened;
};

struct ReadCase {
  const char* Name;
  std::uint64_t Address;
  std::uint32_t Length;
  std::uint32_t Unit;
  sys::Dword Error;  // 0: answered
};

TEST_F(DriverRequestTest, PhysicalReadsReachWhatTheFirmwarePublishesAndNothingElse) {
  const Buffer own = Allocate(4096);
  Bytes data(4, 0x77);
  WriteOwn(own.Physical + 8, data);
  const ReadCase cases[] = {
      {"the BIOS area", 0xE0000, 0x20000, 0, 0},
      {"the end of the BIOS area", 0xFFFF0, 0x10, 0, 0},
      {"the BIOS area in words", 0xE0002, 8, kMemoryUnitWord, 0},
      {"the BIOS area in double words", 0xE0004, 8, kMemoryUnitDword, 0},
      {"an unknown unit copies bytes", 0xE0000, 3, 7, 0},
      {"the root pointer", 0xF0000, 36, 0, 0},
      {"the RSDT it names", kRsdt, kRsdtLength, 0, 0},
      {"the FADT the RSDT lists", kFadt, kFadtLength, 0, 0},
      {"the DSDT the FADT names", kDsdt, kDsdtLength, 0, 0},
      {"the SMBIOS table the entry point names", kSmbiosTable, kSmbiosTableLength, 0, 0},
      {"nothing at all", 0x200000, 0, 0, 0},
      {"a buffer of this handle", own.Physical + 6, 8, 0, 0},
      {"a device's registers", kDeviceMemory, 4, 0, kAccessDenied},
      {"a device's registers in double words", kDeviceMemory, 8, kMemoryUnitDword, kAccessDenied},
      {"past the end of the FADT", kFadt + kFadtLength - 4, 8, 0, kAccessDenied},
      {"between the FADT and the DSDT", kFadt + kFadtLength, 4, 0, kAccessDenied},
      {"past the end of the SMBIOS table", kSmbiosTable + kSmbiosTableLength - 1, 2, 0, kAccessDenied},
      {"firmware tables and what lies beyond them", kFadt, 0x1000, 0, kAccessDenied},
      {"RAM", 0x200000, 4, 0, kAccessDenied},
      {"a range that runs into RAM", 0xFFFF0, 0x20, 0, kAccessDenied},
      {"RAM below the BIOS area", 0x1000, 4, 0, kAccessDenied},
      {"low memory that is not RAM", 0xA0000, 4, 0, kAccessDenied},
      {"a range that runs past this handle's buffer", own.Physical + 4090, 8, 0, kAccessDenied},
      {"more than 16 MiB", 0xF0000000, 0x01000001, 0, kInvalidParameter},
      {"a range past the end of the address space", 0xFFFFFFFFFFFFFFF0ull, 0x20, 0, kInvalidParameter},
      {"words of an odd length", 0xE0000, 3, kMemoryUnitWord, kInvalidParameter},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectRead(c);
  }
}

// A UEFI firmware keeps its root pointer out of the BIOS area; the program
// then searches 128 KiB from 64 KiB below the first table that Windows'
// registry copy of the root table lists (256-byte aligned), and the driver
// allows that window and what a root pointer in it leads to.
TEST_F(DriverRequestTest, TheRegistryCopysSearchWindowIsReadableToo) {
  constexpr std::uint64_t kRoot = 0x7FF00000, kTable = 0x7FF00100, kFar = 0x7FF80000;
  constexpr std::uint64_t kWindow = (kTable - 0x10000) & ~0xFFull;
  const Bytes rsdt = test::Rsdt({static_cast<std::uint32_t>(kTable), static_cast<std::uint32_t>(kFar)});
  const Bytes far = sim::MakeAcpiTable("SSDT", Bytes(12, 3));
  Board.Acpi = sim::BoardAcpi{
      0, 0, {}, {{kWindow + 0x100, test::Rsdp(kRoot)}, {kRoot, rsdt}, {kTable, FadtNaming(0xB2)}, {kFar, far}}, {}};
  sys::RegKey key = 0;
  ASSERT_EQ(Registry.RegCreateKeyExW(sys::kHkeyLocalMachine, u"Hardware\\ACPI\\RSDT\\VELNOR\\TABLES\\00000001",
                                     sys::kKeyAllAccess, &key),
            sys::kErrorSuccess);
  Registry.RegSetValueExW(key, u"00000000", sys::kRegBinary, rsdt.data(), static_cast<sys::Dword>(rsdt.size()));
  Registry.RegCloseKey(key);
  // Windows writes its copy at boot, before the driver learns.
  Opened.clear();
  Reboot();
  Machine().LoadDriver();
  Device = Open();
  const ReadCase cases[] = {
      {"the window's first chunk", kWindow, 0x1000, 0, 0},
      {"the window's last bytes", kWindow + 0x20000 - 0x10, 0x10, 0, 0},
      {"the root pointer in the window", kWindow + 0x100, 20, 0, 0},
      {"a table beyond the window that its RSDT lists", kFar, static_cast<std::uint32_t>(far.size()), 0, 0},
      {"just below the window", kWindow - 0x10, 0x10, 0, kAccessDenied},
      {"just past the window", kWindow + 0x20000, 0x10, 0, kAccessDenied},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectRead(c);
  }
}

// The driver reads a root table's entries in blocks: an entry in a later
// block counts as much as the first, and a table that claims far more than
// the memory holds still publishes the entries that are there.
TEST_F(DriverRequestTest, EveryEntryOfALongRootTableIsFollowed) {
  constexpr std::uint64_t kRoot = 0x7FF00000, kTable = 0x7FF80000;
  const Bytes table = sim::MakeAcpiTable("SSDT", Bytes(12, 3));
  std::vector<std::uint32_t> late(99, 0);
  late.push_back(static_cast<std::uint32_t>(kTable));
  Bytes overclaiming = test::Rsdt({static_cast<std::uint32_t>(kTable)});
  PutLe32(overclaiming.data() + 4, 0x01000000);
  const struct {
    const char* Name;
    Bytes Rsdt;
  } cases[] = {
      {"the hundredth entry, past the first block", test::Rsdt(late)},
      {"a table that claims 16 MiB", overclaiming},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Board.Acpi = sim::BoardAcpi{0, 0, {}, {{0xF0000, test::Rsdp(kRoot)}, {kRoot, c.Rsdt}, {kTable, table}}, {}};
    for (sys::FileHandle handle : Opened) {
      Files().CloseHandle(handle);
    }
    Opened.clear();
    Reboot();
    Machine().LoadDriver();
    Device = Open();
    ExpectRead(ReadCase{"the table it lists", kTable, static_cast<std::uint32_t>(table.size()), 0, 0});
  }
}

TEST_F(DriverRequestTest, PhysicalWritesReachOnlyThisHandlesBuffers) {
  const Buffer own = Allocate(4096);
  const sys::FileHandle other = Open();
  const Buffer theirs = Allocate(other, 4096);
  const Bytes data{1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* Name;
    std::uint64_t Address;
    sys::Dword Error;
  };
  const Case cases[] = {
      {"inside this handle's buffer", own.Physical + 4088, 0},
      {"device memory", kDeviceMemory, kAccessDenied},
      {"the BIOS area", 0xE0000, kAccessDenied},
      {"RAM", 0x200000, kAccessDenied},
      {"past the end of this handle's buffer", own.Physical + 4092, kAccessDenied},
      {"another handle's buffer", theirs.Physical, kAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes before(data.size());
    Machine().Memory().Read(c.Address, before.data(), before.size());
    const Answer a = Send(kIoctlWritePhysicalMemory, MemoryRequest(c.Address, 8, data.data()), 24);
    Bytes after(data.size());
    Machine().Memory().Read(c.Address, after.data(), after.size());
    EXPECT_EQ(a.Ok, c.Error == 0);
    EXPECT_EQ(a.Error, c.Error);
    EXPECT_EQ(after, c.Error == 0 ? data : before);
  }
}

TEST_F(DriverRequestTest, CallerBuffersMustBeGiven) {
  Bytes byte(1);
  EXPECT_EQ(Send(kIoctlReadPhysicalMemory, MemoryRequest(kDeviceMemory, 1, nullptr), 24).Error, 1784u);
  // An address range that wraps round the end of the address space.
  Bytes wrap = MemoryRequest(kDeviceMemory, 16, byte.data());
  PutLe64(wrap.data() + 16, 0xFFFFFFFFFFFFFFF8ull);
  EXPECT_EQ(Send(kIoctlReadPhysicalMemory, wrap, 24).Error, 1784u);
}

TEST_F(DriverRequestTest, ContiguousBuffersAreCappedZeroedAndOwnedByTheirHandle) {
  EXPECT_EQ(Send(kIoctlPhysicalBuffer, BufferRequest(0), 16).Error, kInvalidParameter);
  EXPECT_EQ(Send(kIoctlPhysicalBuffer, BufferRequest(0x10001), 16).Error, kInvalidParameter);
  const Buffer largest = Allocate(0x10000);
  ASSERT_NE(largest.Handle, 0u);
  EXPECT_LT(largest.Physical + 0x10000ull, 0x100000000ull);
  // Zeroed, though the memory held other bytes before.
  Bytes content(0x10000, 0xFF);
  Machine().Memory().Read(largest.Physical, content.data(), content.size());
  EXPECT_EQ(content, Bytes(0x10000, 0));
  // 16 per handle.
  std::vector<Buffer> more;
  for (int i = 1; i < 16; ++i) {
    more.push_back(Allocate(256));
  }
  const Answer seventeenth = Send(kIoctlPhysicalBuffer, BufferRequest(256), 16);
  EXPECT_FALSE(seventeenth.Ok);
  EXPECT_EQ(seventeenth.Error, kNotEnoughQuota);
  // Another handle has a quota of its own, and cannot release these.
  const sys::FileHandle other = Open();
  const Buffer theirs = Allocate(other, 256);
  EXPECT_NE(theirs.Handle, 0u);
  EXPECT_EQ(Send(other, kIoctlPhysicalBuffer, BufferRequest(256, more[0].Handle), 0).Error, kInvalidParameter);
  // A release names the size that was allocated, once.
  EXPECT_EQ(Send(kIoctlPhysicalBuffer, BufferRequest(255, more[0].Handle), 0).Error, kInvalidParameter);
  // A released buffer goes back cleared.
  WriteOwn(more[0].Physical, Bytes(256, 0x5A));
  EXPECT_TRUE(Send(kIoctlPhysicalBuffer, BufferRequest(256, more[0].Handle), 0).Ok);
  EXPECT_EQ(Machine().LastReleasedBuffer(), Bytes(256, 0));
  EXPECT_EQ(Send(kIoctlPhysicalBuffer, BufferRequest(256, more[0].Handle), 0).Error, kInvalidParameter);
  EXPECT_EQ(Send(kIoctlPhysicalBuffer, BufferRequest(256, 0), 0).Error, kInvalidParameter);
  // Handles are numbers, not addresses; each buffer its own.
  EXPECT_NE(theirs.Handle, largest.Handle);
  EXPECT_EQ(Machine().AllocatedBuffers(), 16u);
  // Closing a handle releases every buffer it still holds, cleared.
  WriteOwn(more.back().Physical, Bytes(256, 0x5A));
  Files().CloseHandle(Device);
  Opened.erase(Opened.begin());
  EXPECT_EQ(Machine().AllocatedBuffers(), 1u);
  EXPECT_EQ(Machine().LastReleasedBuffer(), Bytes(256, 0));
  Files().CloseHandle(other);
  Opened.clear();
  EXPECT_EQ(Machine().AllocatedBuffers(), 0u);
}

TEST_F(DriverRequestTest, AllHandlesTogetherHoldAtMostOneMebibyteOfBuffers) {
  // One handle takes its whole quota, 16 buffers of 64 KiB: 1 MiB.
  std::vector<Buffer> full;
  for (int i = 0; i < 16; ++i) {
    full.push_back(Allocate(0x10000));
  }
  const sys::FileHandle other = Open();
  const Answer refused = Send(other, kIoctlPhysicalBuffer, BufferRequest(256), 16);
  EXPECT_FALSE(refused.Ok);
  EXPECT_EQ(refused.Error, kNoSystemResources);
  ASSERT_TRUE(Send(kIoctlPhysicalBuffer, BufferRequest(0x10000, full.back().Handle), 0).Ok);
  EXPECT_NE(Allocate(other, 256).Handle, 0u);
  for (sys::FileHandle handle : Opened) {
    Files().CloseHandle(handle);
  }
  Opened.clear();
  EXPECT_EQ(Machine().AllocatedBuffers(), 0u);
  // However many handles are opened, each page counts: 16 handles with 16
  // buffers of one page each, and nothing more for the next handle.
  for (int h = 0; h < 16; ++h) {
    const sys::FileHandle handle = Open();
    for (int i = 0; i < 16; ++i) {
      ASSERT_NE(Allocate(handle, 1).Handle, 0u) << h << " " << i;
    }
  }
  EXPECT_EQ(Send(Open(), kIoctlPhysicalBuffer, BufferRequest(1), 16).Error, kNoSystemResources);
  EXPECT_EQ(Machine().AllocatedBuffers(), 256u);
}

TEST_F(DriverRequestTest, AHandleWithoutReadAndWriteAccessGetsNothing) {
  constexpr sys::Dword kFileReadData = 0x1, kFileWriteData = 0x2, kGenericAll = 0x10000000,
                       kMaximumAllowed = 0x02000000;
  Bytes target(16);
  struct Case {
    const char* Name;
    sys::Dword Access;
    bool Answered;
  };
  const Case cases[] = {
      {"read and write", sys::kGenericRead | sys::kGenericWrite, true},
      {"read and write data", kFileReadData | kFileWriteData, true},
      {"all", kGenericAll, true},
      {"the most allowed", kMaximumAllowed, true},
      {"no access", 0, false},
      {"read only", sys::kGenericRead, false},
      {"write only", sys::kGenericWrite, false},
      {"read data only", kFileReadData, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const sys::FileHandle handle = Open(c.Access);
    ASSERT_NE(handle, sys::kInvalidHandleValue);
    const Answer pci = Send(handle, kIoctlReadPciConfigWord, PciRequest(0, 31, 0, 2), 12);
    const Answer buffer = Send(handle, kIoctlPhysicalBuffer, BufferRequest(256), 16);
    const Answer memory = Send(handle, kIoctlReadPhysicalMemory, MemoryRequest(0xE0000, 16, target.data()), 24);
    for (const Answer& a : {pci, buffer, memory}) {
      EXPECT_EQ(a.Ok, c.Answered);
      EXPECT_EQ(a.Error, c.Answered ? 0u : kAccessDenied);
    }
  }
}

TEST_F(DriverRequestTest, PciReadsAnswerTheRegisterAndAllOnesForAMissingFunction) {
  struct Case {
    const char* Name;
    std::uint32_t Code;
    Bytes In;
    sys::Dword Error;
    std::uint32_t Value;
  };
  const Case cases[] = {
      {"byte", kIoctlReadPciConfigByte, PciRequest(0, 31, 0, 2), 0, 0xC5},
      {"word", kIoctlReadPciConfigWord, PciRequest(0, 31, 0, 2), 0, 0xA2C5},
      {"double word", kIoctlReadPciConfigDword, PciRequest(0, 31, 0, 0), 0, 0xA2C58086},
      {"unaligned word", kIoctlReadPciConfigWord, PciRequest(0, 31, 0, 1), 0, 0xC580},
      {"beyond the function's bytes", kIoctlReadPciConfigDword, PciRequest(0, 31, 0, 0xFFC), 0, 0},
      {"missing function, byte", kIoctlReadPciConfigByte, PciRequest(0, 31, 1, 0), 0, 0xFF},
      {"missing function, word", kIoctlReadPciConfigWord, PciRequest(3, 0, 0, 0), 0, 0xFFFF},
      {"missing function, double word", kIoctlReadPciConfigDword, PciRequest(0, 2, 0, 0), 0, 0xFFFFFFFF},
      {"device 32", kIoctlReadPciConfigWord, PciRequest(0, 32, 0, 0), kInvalidParameter, 0},
      {"function 8", kIoctlReadPciConfigWord, PciRequest(0, 31, 8, 0), kInvalidParameter, 0},
      {"register past the space", kIoctlReadPciConfigDword, PciRequest(0, 31, 0, 0xFFD), kInvalidParameter, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const Answer a = Send(c.Code, c.In, 12);
    EXPECT_EQ(a.Error, c.Error);
    if (c.Error == 0) {
      ASSERT_TRUE(a.Ok);
      EXPECT_EQ(a.Returned, 12u);
      Bytes expected = c.In;
      PutLe32(expected.data() + 8, c.Value);
      EXPECT_EQ(a.Out, expected);
    }
  }
}

// The variable read the program makes (hw/Variable.cpp), which a row of
// the tables below changes in one point.
struct VariableRead {
  DRV_SMI_REGISTERS Registers{};
  std::uint64_t RegisterBlockAt = 0;
  SMI_REGISTER_BLOCK RegisterBlock{};
  std::uint64_t VariableBlockAt = 0;
  SMI_VARIABLE_BLOCK VariableBlock{};
  std::uint64_t NameAt = 0;
  Bytes Name;  // the bytes written at NameAt, NUL included
};

Bytes NameBytes(const std::u16string& name, bool terminated = true) {
  Bytes text(2 * (name.size() + (terminated ? 1 : 0)), 0);
  std::memcpy(text.data(), name.data(), 2 * name.size());
  return text;
}

class DriverSmiTest : public DriverRequestTest {
 protected:
  void SetUp() override {
    DriverRequestTest::SetUp();
    AllocateBlocks();
  }
  void AllocateBlocks() {
    Registers = Allocate(256);
    Variable = Allocate(256);
    Name = Allocate(256);
    Data = Allocate(8192);
    Spare = Allocate(16384);
  }
  VariableRead ProgramsRead() const {
    VariableRead read;
    read.Registers = {kSmiGetVariable, Variable.Physical, 0, 0xB2, Registers.Physical, 0};
    read.RegisterBlockAt = Registers.Physical;
    read.RegisterBlock = {kSmiGetVariable, Variable.Physical, {}};
    read.VariableBlockAt = Variable.Physical;
    std::memcpy(read.VariableBlock.VendorGuid, kGuid.data(), 16);
    read.VariableBlock.NameAddress = Name.Physical;
    read.VariableBlock.DataSize = 4;
    read.VariableBlock.DataAddress = Data.Physical;
    read.NameAt = Name.Physical;
    read.Name = NameBytes(u"VelnorPlatformConfig");
    return read;
  }
  // Lays the read out in this handle's buffers and raises the SMI.
  Answer Raise(const VariableRead& read) {
    WriteOwn(read.NameAt, read.Name);
    Bytes block(sizeof read.VariableBlock);
    std::memcpy(block.data(), &read.VariableBlock, block.size());
    WriteOwn(read.VariableBlockAt, block);
    Bytes registers(48, 0);
    PutLe32(registers.data() + 0, read.RegisterBlock.Eax);
    PutLe32(registers.data() + 4, read.RegisterBlock.VariableBlockAddress);
    for (std::size_t i = 0; i < 10; ++i) {
      PutLe32(registers.data() + 8 + 4 * i, read.RegisterBlock.Unused[i]);
    }
    WriteOwn(read.RegisterBlockAt, registers);
    Bytes in(24, 0);
    const std::uint32_t image[] = {read.Registers.Eax, read.Registers.Ebx, read.Registers.Ecx,
                                   read.Registers.Edx, read.Registers.Esi, read.Registers.Edi};
    for (std::size_t i = 0; i < 6; ++i) {
      PutLe32(in.data() + 4 * i, image[i]);
    }
    return Send(kIoctlSoftwareSmi, in, 24);
  }
  Buffer Registers, Variable, Name, Data, Spare;
};

TEST_F(DriverSmiTest, TheVariableServiceIsCalledWithTheFirmwaresPortAndOwnBuffers) {
  const VariableRead read = ProgramsRead();
  const Answer a = Raise(read);
  ASSERT_TRUE(a.Ok) << a.Error;
  EXPECT_EQ(a.Returned, 24u);
  // EAX as the handler left it (status 0); the other registers unchanged.
  EXPECT_EQ(SmiStatusOf(Le32(a.Out.data() + 0)), kSmiStatusSuccess);
  const std::uint32_t rest[] = {read.Registers.Ebx, read.Registers.Ecx, read.Registers.Edx, read.Registers.Esi,
                                read.Registers.Edi};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(Le32(a.Out.data() + 4 + 4 * i), rest[i]);
  }
  EXPECT_EQ(Machine().SmiCount(), 1);
  EXPECT_EQ(Machine().Memory().ReadDword(Data.Physical), 0x04030201u);
}

TEST_F(DriverSmiTest, ReadsTheProgramMayMakeAreAnswered) {
  struct Case {
    const char* Name;
    std::function<void(VariableRead&)> Change;
  };
  const Case cases[] = {
      {"another variable's name and GUID",
       [](VariableRead& r) {
         r.Name = NameBytes(u"Other");
         r.VariableBlock.VendorGuid[0] ^= 1;
       }},
      {"a name of 127 characters", [](VariableRead& r) { r.Name = NameBytes(std::u16string(127, u'N')); }},
      {"data of 8192 bytes", [](VariableRead& r) { r.VariableBlock.DataSize = 8192; }},
      {"no data at all", [](VariableRead& r) { r.VariableBlock.DataSize = 0; }},
      {"the caller's attributes", [](VariableRead& r) { r.VariableBlock.Attributes = 0xFFFFFFFF; }},
      {"the name beside the variable block in its buffer",
       [this](VariableRead& r) { r.NameAt = r.VariableBlock.NameAddress = Variable.Physical + 64; }},
  };
  int smis = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    VariableRead read = ProgramsRead();
    c.Change(read);
    const Answer a = Raise(read);
    EXPECT_TRUE(a.Ok) << a.Error;
    EXPECT_EQ(Machine().SmiCount(), ++smis);
  }
}

TEST_F(DriverSmiTest, EverythingElseIsRefusedBeforeAnySmi) {
  const sys::FileHandle other = Open();
  const Buffer theirs = Allocate(other, 256);
  struct Case {
    const char* Name;
    std::function<void(VariableRead&)> Change;
  };
  const Case cases[] = {
      // The registers.
      {"another port", [](VariableRead& r) { r.Registers.Edx = 0xB3; }},
      {"a port in the high word", [](VariableRead& r) { r.Registers.Edx = 0x100B2; }},
      {"another command byte", [](VariableRead& r) { r.Registers.Eax = 0x1EE; }},
      {"EAX asking for another function of the variable service", [](VariableRead& r) { r.Registers.Eax = 0x2EF; }},
      {"EAX's upper half set", [](VariableRead& r) { r.Registers.Eax = 0x800001EF; }},
      {"ECX not 0", [](VariableRead& r) { r.Registers.Ecx = 1; }},
      {"EDI not 0", [](VariableRead& r) { r.Registers.Edi = 0x1000; }},
      // The register block.
      {"a register block asking for another function", [](VariableRead& r) { r.RegisterBlock.Eax = 0x3EF; }},
      {"a register block's first unused byte set", [](VariableRead& r) { r.RegisterBlock.Unused[0] = 1; }},
      {"a register block's last byte set", [](VariableRead& r) { r.RegisterBlock.Unused[9] = 0x01000000; }},
      {"a register block outside own buffers", [](VariableRead& r) { r.Registers.Esi = 0xFED00000; }},
      {"a register block in another handle's buffer",
       [&theirs](VariableRead& r) { r.Registers.Esi = theirs.Physical; }},
      {"registers naming another variable block",
       [this](VariableRead& r) { r.RegisterBlock.VariableBlockAddress = Name.Physical; }},
      // The variable block.
      {"a variable block outside own buffers",
       [](VariableRead& r) { r.Registers.Ebx = r.RegisterBlock.VariableBlockAddress = 0x7FF00000; }},
      {"a variable block that runs past its buffer",
       [this](VariableRead& r) { r.Registers.Ebx = r.RegisterBlock.VariableBlockAddress = Variable.Physical + 240; }},
      {"a name outside own buffers", [](VariableRead& r) { r.VariableBlock.NameAddress = 0xE0000; }},
      {"a name whose NUL lies past its buffer",
       [this](VariableRead& r) {
         r.NameAt = r.VariableBlock.NameAddress = Name.Physical + 200;
         r.Name = NameBytes(std::u16string(28, u'A'), false);
       }},
      {"a name of 128 characters",
       [this](VariableRead& r) {
         r.NameAt = r.VariableBlock.NameAddress = Spare.Physical;
         r.Name = NameBytes(std::u16string(128, u'A'));
       }},
      {"data outside own buffers", [](VariableRead& r) { r.VariableBlock.DataAddress = 0x200000; }},
      {"data that runs past its buffer",
       [this](VariableRead& r) {
         r.VariableBlock.DataAddress = Data.Physical + 8000;
         r.VariableBlock.DataSize = 400;
       }},
      {"data of more than 8192 bytes",
       [this](VariableRead& r) {
         r.VariableBlock.DataAddress = Spare.Physical;
         r.VariableBlock.DataSize = 8193;
       }},
      // Parts that overlap.
      {"a name inside the variable block",
       [this](VariableRead& r) { r.VariableBlock.NameAddress = Variable.Physical + 24; }},
      {"data inside the register block",
       [this](VariableRead& r) { r.VariableBlock.DataAddress = Registers.Physical + 16; }},
      {"data over the name", [this](VariableRead& r) { r.VariableBlock.DataAddress = Name.Physical + 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    VariableRead read = ProgramsRead();
    c.Change(read);
    const Answer a = Raise(read);
    EXPECT_FALSE(a.Ok);
    EXPECT_EQ(a.Error, kAccessDenied);
  }
  EXPECT_EQ(Machine().SmiCount(), 0);
}

TEST_F(DriverSmiTest, AFirmwareWithoutAUsableFadtGetsNoSmi) {
  struct Case {
    const char* Name;
    std::optional<std::pair<std::size_t, std::uint8_t>> FadtByte;  // none: no ACPI tables at all
  };
  const Case cases[] = {
      {"no FADT", std::nullopt},
      {"SMI_CMD 0", std::make_pair(std::size_t{48}, std::uint8_t{0})},
      {"ACPI_ENABLE is the command byte", std::make_pair(std::size_t{52}, kSmiCommandByte)},
      {"ACPI_DISABLE is the command byte", std::make_pair(std::size_t{53}, kSmiCommandByte)},
      {"S4BIOS_REQ is the command byte", std::make_pair(std::size_t{54}, kSmiCommandByte)},
      {"PSTATE_CNT is the command byte", std::make_pair(std::size_t{55}, kSmiCommandByte)},
      {"CST_CNT is the command byte", std::make_pair(std::size_t{89}, kSmiCommandByte)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.FadtByte) {
      sim::Bytes fadt = FadtNaming(0xB2);
      fadt[c.FadtByte->first] = c.FadtByte->second;
      Board.Acpi = sim::BoardAcpi{0xF0000, 0x7FF00000, {fadt}, {}, {}};
    } else {
      Board.Acpi.reset();
    }
    Opened.clear();
    Reboot();
    Machine().LoadDriver();
    Device = Open();
    AllocateBlocks();
    EXPECT_EQ(Raise(ProgramsRead()).Error, kAccessDenied);
    EXPECT_EQ(Machine().SmiCount(), 0);
  }
}

TEST_F(DriverRequestTest, LengthsMustBeExactAndUnknownCodesAreRefused) {
  Bytes target(16);
  struct Case {
    std::uint32_t Code;
    Bytes In;
    std::uint32_t OutSize;
  };
  const Bytes memory = MemoryRequest(kDeviceMemory, 16, target.data());
  const Bytes pci = PciRequest(0, 31, 0, 0);
  const Bytes smi = SmiRequest(kSmiGetVariable, 0, 0xB2, 0);
  const Case good[] = {
      {kIoctlReadPhysicalMemory, memory, 24}, {kIoctlWritePhysicalMemory, memory, 24},
      {kIoctlReadPciConfigByte, pci, 12},     {kIoctlReadPciConfigWord, pci, 12},
      {kIoctlReadPciConfigDword, pci, 12},    {kIoctlPhysicalBuffer, BufferRequest(256), 16},
      {kIoctlSoftwareSmi, smi, 24},
  };
  for (const Case& c : good) {
    SCOPED_TRACE(c.Code);
    Bytes shorter(c.In.begin(), c.In.end() - 1);
    Bytes longer = c.In;
    longer.push_back(0);
    EXPECT_EQ(Send(c.Code, shorter, c.OutSize).Error, kInvalidParameter);
    EXPECT_EQ(Send(c.Code, longer, c.OutSize).Error, kInvalidParameter);
    EXPECT_EQ(Send(c.Code, c.In, c.OutSize - 1).Error, kInvalidParameter);
    EXPECT_EQ(Send(c.Code, c.In, c.OutSize + 1).Error, kInvalidParameter);
    EXPECT_EQ(Send(c.Code, {}, 0).Error, kInvalidParameter);
  }
  const std::uint32_t unknown[] = {kIoctlMapPhysicalMemory,
                                   kIoctlUnmapPhysicalMemory,
                                   0x222810,
                                   0x222844,
                                   0x222884,
                                   0x22288C,
                                   kIoctlReadPhysicalMemory | 1,       // another transfer method
                                   kIoctlReadPhysicalMemory | 0x4000,  // another access
                                   0x00222808 ^ 0x00010000,            // another device type
                                   0};
  for (std::uint32_t code : unknown) {
    SCOPED_TRACE(code);
    EXPECT_EQ(Send(code, memory, 24).Error, kInvalidFunction);
  }
  // None of that left a buffer behind.
  EXPECT_EQ(Machine().AllocatedBuffers(), 0u);
}

TEST_F(DriverRequestTest, RequestsWriteNoPhysicalMemoryButTheirOwnBuffers) {
  auto snapshot = [this] {
    std::vector<Bytes> bytes;
    for (const sim::PhysicalMemory::Region& region : Machine().Memory().Regions()) {
      Bytes content(region.Length);
      Machine().Memory().Read(region.Address, content.data(), content.size());
      bytes.push_back(std::move(content));
    }
    return bytes;
  };
  const std::vector<Bytes> before = snapshot();
  const Buffer own = Allocate(4096);
  Bytes data(4096, 0x42);
  for (std::uint64_t address : {kDeviceMemory, std::uint64_t{0xE0000}, std::uint64_t{0x7FF00000},
                                std::uint64_t{own.Physical}, std::uint64_t{0x200000}}) {
    Send(kIoctlWritePhysicalMemory, MemoryRequest(address, 16, data.data()), 24);
    Send(kIoctlReadPhysicalMemory, MemoryRequest(address, 16, data.data()), 24);
  }
  EXPECT_EQ(snapshot(), before);
}

}  // namespace
}  // namespace kestrune
