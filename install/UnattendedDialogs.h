// Message boxes under the silent switch: none. A calling installer that
// started the program with "/SP" must never wait on a box that nobody sees,
// so the boxes that other parts of the program show of their own (the driver
// loader's, the restart entry's) are not shown either; each answers as a
// box that could not be shown.
#pragma once

#include "sys/Dialogs.h"

namespace kestrune {

class UnattendedDialogs : public sys::IDialogs {
 public:
  int MessageBoxA(const std::string&, const std::string&, sys::Dword) override { return 0; }
};

}  // namespace kestrune
