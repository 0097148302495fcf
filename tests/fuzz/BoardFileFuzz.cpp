// Board files, captured ones above all: the input as the text of a board
// that holds its bytes inline. A board that parses is laid out on a
// machine with every check, written back (which must read as the same
// board), and has its SMBIOS serials blanked; the raw input is also blanked
// as an SMBIOS structure table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/board/Board.h"
#include "sim/board/BoardMachine.h"
#include "sim/os/FakeFiles.h"
#include "tools/CaptureSupport.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Bytes table(data, data + size);
  tools::BlankSmbiosSerials(table.data(), table.size());
  if (table.size() != size) {
    std::abort();
  }

  const std::string text(reinterpret_cast<const char*>(data), size);
  sim::Board board;
  std::string error;
  if (!sim::ParseInlineBoardJson(text, board, error)) {
    return 0;
  }
  const std::string written = sim::WriteBoardJson(board);
  sim::Board again;
  if (!sim::ParseInlineBoardJson(written, again, error) || sim::WriteBoardJson(again) != written) {
    std::abort();
  }
  tools::BlankBoardSerials(board);
  sim::FakeFiles files;
  (void)sim::BoardMachine::Create(board, files, error);
  return 0;
}
