// A board file of the machine the program runs on, read through the
// program's own hardware objects and the driver: what a Windows PC shows
// the program, or what a simulated board shows it. It sends only the read
// requests the program itself sends, and writes nothing but the firmware
// variable request blocks in the driver's own buffers.
#pragma once

#include <string>

#include "sim/board/Board.h"
#include "tools/CaptureSupport.h"

namespace kestrune::tools {

// The board, its capture record listing what could not be read.
sim::Board CaptureThroughHardware(const CaptureOptions& options, const std::string& host);

}  // namespace kestrune::tools
