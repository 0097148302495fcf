#include "hw/Variable.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hw/Acpibase.h"
#include "sim/board/Board.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FileSeamTap.h"

namespace kestrune {
namespace {

const std::string kBoards = KESTRUNE_BOARDS_DIR;
const EfiGuid kPlatformGuid = {0x43, 0xD6, 0x87, 0xEC, 0xA4, 0xEB, 0xB5, 0x4B,
                               0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9};
const std::u16string kPlatformConfig = u"VelnorPlatformConfig";

class VariableTest : public test::BoardFixture {
 protected:
  // The shipped board with Optane support, plus a 100-byte variable "Big".
  void BootBoard() {
    std::string error;
    ASSERT_TRUE(sim::LoadBoardFile(kBoards + "/kabylake-z270-optane.json", Board, error)) << error;
    sim::BoardVariable big;
    big.Name = u"Big";
    big.VendorGuid = kPlatformGuid;
    big.Attributes = 3;
    big.Data.assign(100, 0x5A);
    Board.Smi->Variables.push_back(big);
    Board.Smi->Variables[0].Data = {0x00, 0x11, 0x22, 0x33};
    Boot();
  }

  // A read of the platform variable that is refused before it reaches the
  // machine: no request to the driver at all, no SMI.
  void ExpectRefusedWithoutARequest(TVariable& variable) {
    test::FileSeamTap tap;
    std::uint64_t size = 4;
    std::uint32_t attributes = 0;
    std::uint8_t data[4] = {};
    EXPECT_FALSE(variable.GetVariable(kPlatformConfig, kPlatformGuid, nullptr, data, &size, &attributes));
    EXPECT_TRUE(tap.Codes.empty());
    EXPECT_EQ(Machine().SmiCount(), 0);
  }
};

TEST_F(VariableTest, AVariableOfExactlyTheRequestedSize) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  EXPECT_EQ(variable.AllocationFailed, 0u);
  std::uint8_t data[4] = {};
  std::uint64_t size = 4;
  std::uint32_t attributes = 0;
  std::uint8_t status = 0xFF;
  ASSERT_TRUE(variable.GetVariable(kPlatformConfig, kPlatformGuid, &status, data, &size, &attributes));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(attributes, 7u);
  EXPECT_EQ(data[1], 0x11);
  EXPECT_EQ(data[3], 0x33);
  EXPECT_EQ(Machine().SmiCount(), 1);
}

TEST_F(VariableTest, ALargerVariableReportsItsSizeWithBufferTooSmall) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  std::uint8_t data[4] = {9, 9, 9, 9};
  std::uint64_t size = 4;
  std::uint32_t attributes = 0x40;
  std::uint8_t status = 0;
  EXPECT_FALSE(variable.GetVariable(u"Big", kPlatformGuid, &status, data, &size, &attributes));
  EXPECT_EQ(status, 0x85);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(attributes, 0x40u);  // not changed
  EXPECT_EQ(data[0], 9);

  std::vector<std::uint8_t> bigger(static_cast<std::size_t>(size));
  ASSERT_TRUE(variable.GetVariable(u"Big", kPlatformGuid, nullptr, bigger.data(), &size, &attributes));
  EXPECT_EQ(bigger, std::vector<std::uint8_t>(100, 0x5A));
  EXPECT_EQ(attributes, 3u);
}

TEST_F(VariableTest, WithoutADataBufferTheFirmwareIsStillAsked) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  std::uint64_t size = 8;
  std::uint32_t attributes = 0;
  ASSERT_TRUE(variable.GetVariable(kPlatformConfig, kPlatformGuid, nullptr, nullptr, &size, &attributes));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(attributes, 7u);
  EXPECT_EQ(Machine().SmiCount(), 1);
}

TEST_F(VariableTest, TheDataBufferIsZeroedBeforeEachRead) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  std::vector<std::uint8_t> data(100, 0xEE);
  std::uint64_t size = 100;
  std::uint32_t attributes = 0;
  ASSERT_TRUE(variable.GetVariable(u"Big", kPlatformGuid, nullptr, data.data(), &size, &attributes));
  std::fill(data.begin(), data.end(), 0xEE);
  size = 100;
  ASSERT_TRUE(variable.GetVariable(kPlatformConfig, kPlatformGuid, nullptr, data.data(), &size, &attributes));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(data[4], 0xEE);  // only the variable's 4 bytes were copied
  std::vector<std::uint8_t> physical(100);
  Machine().Memory().Read(variable.VariableData.Address, physical.data(), physical.size());
  EXPECT_EQ(std::vector<std::uint8_t>(physical.begin() + 4, physical.end()), std::vector<std::uint8_t>(96, 0));
}

TEST_F(VariableTest, ANameOfOneCharacterWritesFourBytes) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  const std::vector<std::uint8_t> before(8, 0xCC);
  Machine().Memory().Write(variable.VariableName.Address, before.data(), before.size());
  std::uint64_t size = 4;
  std::uint32_t attributes = 0;
  std::uint8_t status = 0;
  EXPECT_FALSE(variable.GetVariable(u"A", kPlatformGuid, &status, nullptr, &size, &attributes));
  EXPECT_EQ(status, 0x8E);  // not found: the status is stored, size and attributes stay
  EXPECT_EQ(size, 4u);
  std::uint8_t after[8];
  Machine().Memory().Read(variable.VariableName.Address, after, sizeof after);
  EXPECT_EQ(std::vector<std::uint8_t>(after, after + 8),
            (std::vector<std::uint8_t>{'A', 0, 0, 0, 0xCC, 0xCC, 0xCC, 0xCC}));
}

TEST_F(VariableTest, SizeHighWordIsIgnoredOnInputAndClearedOnOutput) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  std::uint8_t data[4] = {};
  std::uint64_t size = (std::uint64_t{0xABCD} << 32) | 4;
  std::uint32_t attributes = 0;
  ASSERT_TRUE(variable.GetVariable(kPlatformConfig, kPlatformGuid, nullptr, data, &size, &attributes));
  EXPECT_EQ(size, 4u);
}

struct Refusal {
  const char* name;
  std::u16string variableName;
  std::uint64_t size;
};

TEST_F(VariableTest, RefusedRequestsTouchNeitherMemoryNorTheSmiPort) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  const Refusal refusals[] = {
      {"name of 128 characters", std::u16string(128, u'N'), 4},
      {"size above 8192", kPlatformConfig, 8193},
      {"size of 4 GiB - 1", kPlatformConfig, 0xFFFFFFFF},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    test::FileSeamTap tap;
    std::uint8_t data[4] = {7, 7, 7, 7};
    std::uint64_t size = r.size;
    std::uint32_t attributes = 5;
    std::uint8_t status = 0x55;
    EXPECT_FALSE(variable.GetVariable(r.variableName, kPlatformGuid, &status, data, &size, &attributes));
    EXPECT_TRUE(tap.Codes.empty());
    EXPECT_EQ(size, r.size);
    EXPECT_EQ(attributes, 5u);
    EXPECT_EQ(status, 0x55);
    EXPECT_EQ(data[0], 7);
  }
  EXPECT_EQ(Machine().SmiCount(), 0);

  // The limits themselves pass.
  std::uint64_t size = 8192;
  std::uint32_t attributes = 0;
  std::vector<std::uint8_t> data(8192);
  EXPECT_TRUE(variable.GetVariable(kPlatformConfig, kPlatformGuid, nullptr, data.data(), &size, &attributes));
  size = 4;
  EXPECT_FALSE(
      variable.GetVariable(std::u16string(127, u'N'), kPlatformGuid, nullptr, data.data(), &size, &attributes));
  EXPECT_EQ(Machine().SmiCount(), 2);
}

TEST_F(VariableTest, AnUnknownSmiCommandPortRefusesTheRead) {
  BootBoard();  // no ACPI discovery: the port is still 0
  TVariable variable;
  ExpectRefusedWithoutARequest(variable);
}

TEST_F(VariableTest, BuffersThatCannotBeAllocatedRefuseTheRead) {
  BootBoard();
  Board.Faults.Alloc = true;
  Reboot();
  AcpiBaseInstance();
  TVariable variable;
  EXPECT_EQ(variable.AllocationFailed, 1u);
  EXPECT_EQ(variable.RegBlock.Address, kAllocationFailed);
  ExpectRefusedWithoutARequest(variable);
}

TEST_F(VariableTest, AFailedSmiRequestChangesNothing) {
  BootBoard();
  Board.Faults.Smi = true;
  Reboot();
  AcpiBaseInstance();
  TVariable variable;
  std::uint64_t size = 4;
  std::uint32_t attributes = 9;
  std::uint8_t status = 0x77;
  std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_FALSE(variable.GetVariable(kPlatformConfig, kPlatformGuid, &status, data, &size, &attributes));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(attributes, 9u);
  EXPECT_EQ(status, 0x77);
  EXPECT_EQ(data[0], 1);
}

// Firmware that reports success with a size far beyond the caller's buffer,
// and fills its whole data buffer.
class OverreportingFirmware : public test::FileSeamTap {
 public:
  explicit OverreportingFirmware(sim::PhysicalMemory& memory) : Memory(memory) {}
  bool DeviceIoControl(sys::FileHandle device, sys::Dword code, const void* in, sys::Dword inSize, void* out,
                       sys::Dword outSize, sys::Dword* returned) override {
    const bool ok = FileSeamTap::DeviceIoControl(device, code, in, inSize, out, outSize, returned);
    if (ok && code == kIoctlSoftwareSmi) {
      DRV_SMI_REGISTERS registers;
      std::memcpy(&registers, in, sizeof registers);
      SMI_VARIABLE_BLOCK block;
      Memory.Read(registers.Ebx, reinterpret_cast<std::uint8_t*>(&block), sizeof block);
      block.DataSize = 0x10000;
      Memory.Write(registers.Ebx, reinterpret_cast<const std::uint8_t*>(&block), sizeof block);
      const std::vector<std::uint8_t> fill(kSmiDataBufferSize, 0xAB);
      Memory.Write(block.DataAddress, fill.data(), fill.size());
    }
    return ok;
  }

 private:
  sim::PhysicalMemory& Memory;
};

TEST_F(VariableTest, NeverCopiesMoreThanTheCallersSizeWhateverTheFirmwareReports) {
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  OverreportingFirmware firmware(Machine().Memory());
  std::uint8_t data[8] = {0, 0, 0, 0, 0xC0, 0xC1, 0xC2, 0xC3};
  std::uint64_t size = 4;
  std::uint32_t attributes = 0;
  ASSERT_TRUE(variable.GetVariable(kPlatformConfig, kPlatformGuid, nullptr, data, &size, &attributes));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(data, data + 8),
            (std::vector<std::uint8_t>{0xAB, 0xAB, 0xAB, 0xAB, 0xC0, 0xC1, 0xC2, 0xC3}));
}

TEST_F(VariableTest, AnActiveTraceConsoleShowsTheBuffersAndTheFailedRead) {
  DebugConsoleInstance(true);  // the first request decides: active
  BootBoard();
  AcpiBaseInstance();
  TVariable variable;
  std::uint64_t size = 4;
  std::uint32_t attributes = 0;
  EXPECT_FALSE(variable.GetVariable(u"Big", kPlatformGuid, nullptr, nullptr, &size, &attributes));
  char expected[200];
  std::snprintf(expected, sizeof expected,
                "RegBlockPhysical=0x%08X\nVariableBlockPhysical=0x%08X\nVariableNamePhysical=0x%08X\n"
                "VariableDataPhysical=0x%08X\n",
                variable.RegBlock.Address, variable.VariableBlock.Address, variable.VariableName.Address,
                variable.VariableData.Address);
  const std::string shown = ConsoleWindow.Shown();
  EXPECT_NE(shown.find(expected), std::string::npos) << shown;
  EXPECT_NE(shown.find("GetVariable:VariableName=Big\n"
                       "GetVariable:Error code EAX=0x000085EF\n"
                       "GetVariable  ... [Error Big Size (100) => 0x000085EF]\n"),
            std::string::npos)
      << shown;
}

TEST_F(VariableTest, TheBuffersLiveExactlyAsLongAsTheObject) {
  BootBoard();
  AcpiBaseInstance();
  {
    TVariable first;
    TVariable second;
    EXPECT_EQ(Machine().AllocatedBuffers(), 8u);
    EXPECT_NE(first.VariableData.Address, second.VariableData.Address);
  }
  EXPECT_EQ(Machine().AllocatedBuffers(), 0u);
}

}  // namespace
}  // namespace kestrune
