#include "hw/Readwrite.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hw/Ioobject.h"
#include "hw/Rwconfig.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FileSeamTap.h"

namespace kestrune {
namespace {

constexpr char kRsdPtr[] = "RSD PTR ";

class ReadwriteTest : public test::BoardFixture {
 protected:
  // A BIOS area of 128 KiB from 0xE0000, zero-filled, with patterns at the
  // given offsets.
  void BiosAreaWith(std::initializer_list<std::uint32_t> offsets, const std::string& pattern = kRsdPtr) {
    sim::BoardMemoryRegion area{0xE0000, sim::Bytes(0x20000, 0)};
    for (std::uint32_t offset : offsets) {
      std::memcpy(area.Data.data() + offset, pattern.data(), pattern.size());
    }
    Board.Memory.push_back(std::move(area));
  }
  std::uint64_t Search(std::uint32_t step, std::uint32_t skip, std::uint32_t length = 0x20000,
                       std::uint64_t start = 0xE0000, const std::string& pattern = kRsdPtr) {
    return ReadWriteInstance()->SearchPhysicalMemory(length, step, static_cast<std::uint32_t>(pattern.size()),
                                                     pattern.data(), skip, start);
  }
};

TEST_F(ReadwriteTest, ReadsAndWritesPhysicalMemoryThroughTheDriver) {
  // Firmware bytes in the BIOS area, which the driver reads.
  Board.Memory.push_back({0xF1000, *sim::ParseHex("00112233445566778899")});
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  std::uint8_t bytes[4] = {};
  ASSERT_TRUE(rw->ReadPhysicalMemory(bytes, 4, 0xF1003));
  EXPECT_EQ(bytes[0], 0x33);
  EXPECT_EQ(bytes[3], 0x66);
  ASSERT_TRUE(rw->ReadPhysicalMemory(bytes, 4, 0xF0FFE));
  // Unmapped memory reads as all ones, as on a real bus.
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2], 0x00);
  EXPECT_EQ(bytes[3], 0x11);
  // Writes reach the program's own contiguous buffers, which start zeroed.
  PhysicalBufferHandle handle{};
  const std::uint32_t buffer = rw->AllocPhysicalBuffer(handle, 4096);
  ASSERT_NE(buffer, kAllocationFailed);
  const std::uint8_t update[2] = {0xAB, 0xCD};
  ASSERT_TRUE(rw->WritePhysicalMemory(update, 2, buffer + 0x10));
  ASSERT_TRUE(rw->ReadPhysicalMemory(bytes, 4, buffer + 0x0E));
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(bytes[2], 0xAB);
  EXPECT_EQ(bytes[3], 0xCD);
  // Elsewhere the driver refuses them.
  EXPECT_FALSE(rw->WritePhysicalMemory(update, 2, 0xFED01000));
  rw->FreePhysicalBuffer(handle, 4096);
}

TEST_F(ReadwriteTest, AScanOf128KibCostsOneDriverRequestPerChunk) {
  BiosAreaWith({0x1FFF0});
  Boot();
  ReadWriteInstance();
  const std::uint64_t before = Machine().DriverRequests();
  EXPECT_EQ(Search(16, 0), 0xFFFF0u);
  EXPECT_EQ(Machine().DriverRequests() - before, 32u);
}

TEST_F(ReadwriteTest, EveryOperationFailsSoundlyWhenTheDriverCannotBeOpened) {
  Board.Faults.Driver = true;
  Board.Pci.push_back({0, 31, 0, *sim::ParseHex("8680C5A2")});
  BiosAreaWith({0x100});
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  EXPECT_EQ(rw->GetDeviceHandle(), sys::kInvalidHandleValue);
  ASSERT_EQ(Dialogs.Boxes.size(), 1u);
  std::uint8_t byte = 0;
  EXPECT_FALSE(rw->ReadPhysicalMemory(&byte, 1, 0xE0000));
  EXPECT_EQ(Search(16, 0), kSearchNotFound);
  EXPECT_EQ(rw->ReadPciConfig(0, 31, 2, 0), 0xFFFF);
  PhysicalBufferHandle handle{};
  EXPECT_EQ(rw->AllocPhysicalBuffer(handle, 256), kAllocationFailed);
  DRV_SMI_REGISTERS registers{kSmiGetVariable, 0, 0, 0xB2, 0, 0};
  EXPECT_FALSE(rw->SoftwareSmi(registers));
  EXPECT_EQ(registers.Eax, kSmiGetVariable);
}

TEST_F(ReadwriteTest, SearchFindsAPatternAcrossAChunkBoundaryWithStepOne) {
  // 3 bytes before the boundary of the first 4096-byte chunk.
  BiosAreaWith({4096 - 3});
  Boot();
  EXPECT_EQ(Search(1, 0), 0xE0000u + 4096 - 3);
}

TEST_F(ReadwriteTest, SearchSkipsToLaterMatches) {
  BiosAreaWith({0x10, 0x5000, 0x1FFF0});
  Boot();
  EXPECT_EQ(Search(16, 0), 0xE0010u);
  EXPECT_EQ(Search(16, 1), 0xE5000u);
  EXPECT_EQ(Search(16, 2), 0xFFFF0u);
  EXPECT_EQ(Search(16, 3), kSearchNotFound);
}

TEST_F(ReadwriteTest, SearchWithStepSixteenTriesOnlyAlignedOffsets) {
  BiosAreaWith({0x108, 0x2000});
  Boot();
  EXPECT_EQ(Search(16, 0), 0xE2000u);
  EXPECT_EQ(Search(1, 0), 0xE0108u);
  // A step of 0 counts as 1.
  EXPECT_EQ(Search(0, 0), 0xE0108u);
}

TEST_F(ReadwriteTest, SearchForAPatternLongerThanTheRangeReadsNothing) {
  BiosAreaWith({0});
  Boot();
  ReadWriteInstance();
  test::FileSeamTap tap;
  EXPECT_EQ(Search(1, 0, 7), kSearchNotFound);
  EXPECT_EQ(tap.MemoryReads, 0);
  // The same pattern fits a range of its own length.
  EXPECT_EQ(Search(1, 0, 8), 0xE0000u);
  EXPECT_EQ(tap.MemoryReads, 1);
}

TEST_F(ReadwriteTest, SearchCostsOneRequestPerChunk) {
  BiosAreaWith({});
  Boot();
  ReadWriteInstance();
  test::FileSeamTap tap;
  EXPECT_EQ(Search(16, 0), kSearchNotFound);
  EXPECT_EQ(tap.MemoryReads, 32);
}

TEST_F(ReadwriteTest, AChunkWhoseReadFailsContributesNoMatch) {
  // One match in the first chunk. The second chunk cannot be read: its
  // buffer still holds the first chunk's bytes, which must not match again.
  BiosAreaWith({0x800});
  Boot();
  ReadWriteInstance();
  test::FileSeamTap tap;
  tap.FailRead = [](std::uint64_t address, std::uint32_t) { return address >= 0xE1000 && address < 0xE2000; };
  EXPECT_EQ(Search(16, 0), 0xE0800u);
  EXPECT_EQ(Search(16, 1), kSearchNotFound);
  // A pattern of zeros in a failed read finds nothing either.
  tap.FailRead = [](std::uint64_t, std::uint32_t) { return true; };
  EXPECT_EQ(Search(16, 0, 0x20000, 0xE0000, std::string(8, '\0')), kSearchNotFound);
}

TEST_F(ReadwriteTest, SearchGoesOnAfterAFailedChunk) {
  BiosAreaWith({0x3000});
  Boot();
  ReadWriteInstance();
  test::FileSeamTap tap;
  tap.FailRead = [](std::uint64_t address, std::uint32_t) { return address < 0xE1000; };
  EXPECT_EQ(Search(16, 0), 0xE3000u);
}

TEST_F(ReadwriteTest, SearchEndsWhenTheStepIsLargerThanWhatRemains) {
  BiosAreaWith({});
  Boot();
  // 40 bytes with step 32 and an 8-byte pattern: offsets 0 and 32 only.
  EXPECT_EQ(Search(32, 0, 40), kSearchNotFound);
  EXPECT_EQ(Search(32, 0, 40, 0xE0000, std::string(8, '\0')), 0xE0000u);
  EXPECT_EQ(Search(32, 1, 40, 0xE0000, std::string(8, '\0')), 0xE0020u);
  EXPECT_EQ(Search(32, 2, 40, 0xE0000, std::string(8, '\0')), kSearchNotFound);
}

TEST_F(ReadwriteTest, PciRequestRecordTakesTheRegisterBeforeTheFunction) {
  sim::Bytes lpc(256, 0);
  lpc[0] = 0x86;
  lpc[1] = 0x80;
  lpc[2] = 0xC5;
  lpc[3] = 0xA2;
  sim::Bytes other(256, 0);
  for (int i = 0; i < 256; ++i) {
    other[i] = static_cast<std::uint8_t>(i);
  }
  Board.Pci = {{0, 31, 0, lpc}, {1, 2, 3, other}};
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  EXPECT_EQ(rw->ReadPciConfig(0, 31, 2, 0), 0xA2C5);
  EXPECT_EQ(rw->GetPciRequest().Bus, 0);
  EXPECT_EQ(rw->GetPciRequest().Device, 31);
  EXPECT_EQ(rw->GetPciRequest().Function, 0);
  EXPECT_EQ(rw->GetPciRequest().Register, 2);

  EXPECT_EQ(rw->ReadPciConfigByte(1, 2, 0x10, 3), 0x10);
  EXPECT_EQ(rw->GetPciRequest().Function, 3);
  EXPECT_EQ(rw->GetPciRequest().Register, 0x10);
  EXPECT_EQ(rw->ReadPciConfig(1, 2, 0x21, 3), 0x2221);
  EXPECT_EQ(rw->ReadPciConfigDword(1, 2, 0x40, 3), 0x43424140u);
  // Swapping register and function reads another place.
  EXPECT_EQ(rw->ReadPciConfigByte(1, 2, 3, 0x10), 0xFF);
}

TEST_F(ReadwriteTest, AbsentFunctionAndFailedRequestReadAllOnes) {
  Board.Pci = {{0, 31, 0, sim::Bytes(256, 0x11)}};
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  EXPECT_EQ(rw->ReadPciConfigByte(0, 30, 0, 0), 0xFF);
  EXPECT_EQ(rw->ReadPciConfig(0, 30, 0, 0), 0xFFFF);
  EXPECT_EQ(rw->ReadPciConfigDword(0, 30, 0, 0), 0xFFFFFFFFu);
  // After a read that left a value in the request record, a request that
  // fails (device 32 does not exist on a PCI bus) still reads all ones.
  EXPECT_EQ(rw->ReadPciConfigDword(0, 31, 0, 0), 0x11111111u);
  EXPECT_EQ(rw->ReadPciConfigByte(0, 32, 0, 0), 0xFF);
  EXPECT_EQ(rw->ReadPciConfig(0, 32, 0, 0), 0xFFFF);
  EXPECT_EQ(rw->ReadPciConfigDword(0, 32, 0, 0), 0xFFFFFFFFu);
}

TEST_F(ReadwriteTest, ContiguousBuffersAreAllocatedBelowFourGibAndReleased) {
  Board.Memory.push_back({0xE0000, sim::Bytes(0x20000, 0)});
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  PhysicalBufferHandle first{};
  PhysicalBufferHandle second{};
  const std::uint32_t a = rw->AllocPhysicalBuffer(first, 256);
  const std::uint32_t b = rw->AllocPhysicalBuffer(second, 8192);
  ASSERT_NE(a, kAllocationFailed);
  ASSERT_NE(b, kAllocationFailed);
  EXPECT_NE(first, second);
  EXPECT_TRUE(a + 256 <= b || b + 8192 <= a);
  EXPECT_EQ(Machine().AllocatedBuffers(), 2u);

  const char text[] = "buffer";
  ASSERT_TRUE(rw->WritePhysicalMemory(text, sizeof text, b + 8000));
  char back[sizeof text] = {};
  ASSERT_TRUE(rw->ReadPhysicalMemory(back, sizeof back, b + 8000));
  EXPECT_STREQ(back, text);

  rw->FreePhysicalBuffer(first, 256);
  rw->FreePhysicalBuffer(second, 8192);
  EXPECT_EQ(Machine().AllocatedBuffers(), 0u);
}

TEST_F(ReadwriteTest, AllocationFailureLeavesTheHandleSlotAlone) {
  Board.Faults.Alloc = true;
  Boot();
  PhysicalBufferHandle handle{1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(ReadWriteInstance()->AllocPhysicalBuffer(handle, 256), kAllocationFailed);
  EXPECT_EQ(handle, (PhysicalBufferHandle{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(ReadwriteTest, CpuidAsksTheMachine) {
  Board.Cpu.Vendor = "AuthenticAMD";
  Board.Cpu.Signature = 0x00A20F10;
  Boot();
  sys::CpuidRegisters registers{0, 0, 0, 0};
  ASSERT_TRUE(ReadWriteInstance()->Cpuid(registers));
  char vendor[13] = {};
  std::memcpy(vendor, &registers.Ebx, 4);
  std::memcpy(vendor + 4, &registers.Edx, 4);
  std::memcpy(vendor + 8, &registers.Ecx, 4);
  EXPECT_STREQ(vendor, "AuthenticAMD");
  registers = {1, 0, 0, 0};
  ASSERT_TRUE(ReadWriteInstance()->Cpuid(registers));
  EXPECT_EQ(registers.Eax, 0x00A20F10u);
}

class Probe : public TIoObject {
 public:
  TReadWrite* Rw() const { return ReadWrite; }
  TDebugConsole* Trace() const { return Console; }
};

TEST_F(ReadwriteTest, SuccessiveHardwareObjectsShareOneAccessObjectAndOneDriverHandle) {
  Boot();
  sys::FileHandle firstHandle = sys::kInvalidHandleValue;
  TReadWrite* firstRw = nullptr;
  {
    Probe first;
    firstRw = first.Rw();
    firstHandle = first.Rw()->GetDeviceHandle();
  }
  ASSERT_NE(firstHandle, sys::kInvalidHandleValue);
  Probe second;
  EXPECT_EQ(second.Rw(), firstRw);
  EXPECT_EQ(second.Rw()->GetDeviceHandle(), firstHandle);
  EXPECT_EQ(Machine().OpenDeviceHandles(), 1u);
  // The driver was installed and started once.
  int starts = 0;
  for (const std::string& call : Session->ServiceControl().Calls) {
    starts += call.rfind("StartService", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(starts, 1);
  // The console is the inactive one, asked for by the first object.
  EXPECT_FALSE(second.Trace()->IsActive());
  EXPECT_EQ(ConsoleWindow.Allocations, 0);
}

TEST_F(ReadwriteTest, ReleasingTheAccessObjectClosesTheDriverAndResetsTheSettings) {
  Boot();
  TReadWrite* rw = ReadWriteInstance();
  rw->GetConfig().GetRwCfg().SmiCommandPort = 0xB2;
  EXPECT_EQ(Machine().OpenDeviceHandles(), 1u);
  ReleaseReadWriteInstance();
  EXPECT_EQ(Machine().OpenDeviceHandles(), 0u);
  EXPECT_EQ(ReadWriteInstance()->GetConfig().GetRwCfg().SmiCommandPort, 0);
}

}  // namespace
}  // namespace kestrune
