// The capture tests' fixture: a simulated board that a test captures, then
// replays through a board file, and SMBIOS bytes that carry serial numbers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/board/Board.h"
#include "sim/os/FakeFirmwareTable.h"
#include "sys/Seam.h"
#include "tests/support/BoardFixture.h"
#include "tests/support/FirmwareFixtures.h"
#include "tools/Probe.h"

namespace kestrune::test {

namespace capture {

// An SMBIOS table: a system structure with a serial number and a UUID, a
// baseboard with its product and serial number, and the end structure.
inline sim::Bytes SmbiosTable() {
  sim::Bytes system = {1, 2, 3, 4};  // manufacturer, product, version, serial number
  for (int i = 0; i < 16; ++i) {
    system.push_back(static_cast<std::uint8_t>(0xA0 + i));  // the UUID at 0x08
  }
  system.insert(system.end(), {6, 0, 0});
  return Concat({SmbiosStructure(1, 1, system, {"Velnor", "Forge", "1.0", "SYS-SERIAL-42"}),
                 SmbiosStructure(2, 2, {1, 2, 3, 4, 0}, {"Velnor", "Z270 Forge", "1.0", "BB-SERIAL-7"}), SmbiosEnd()});
}

inline sim::Bytes SmbiosEntryPoint(std::uint32_t tableAddress, std::size_t tableLength) {
  return test::SmbiosEntryPoint(static_cast<std::uint16_t>(tableLength), tableAddress);
}

}  // namespace capture

class CaptureTest : public BoardFixture {
 protected:
  // The board written to a board file and read back.
  sim::Board ThroughFile(const sim::Board& board) {
    sim::Board read;
    std::string error;
    EXPECT_TRUE(sim::ParseInlineBoardJson(sim::WriteBoardJson(board), read, error)) << error;
    return read;
  }
  std::string ProbeOf(const sim::Board& board) {
    PowerOff();
    Board = board;
    Boot();
    return tools::ProbeMachine();
  }

  sim::FakeFirmwareTable FirmwareTable;
  std::string Error;

 private:
  sys::ScopedSeam<sys::IFirmwareTable> FirmwareSeam{FirmwareTable};
};

}  // namespace kestrune::test
