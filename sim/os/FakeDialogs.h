// Message boxes: recorded, and questions answered from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/Dialogs.h"

namespace kestrune::sim {

// Records every box; answers questions from a script (Yes when it is empty).
class FakeDialogs : public sys::IDialogs {
 public:
  explicit FakeDialogs(EventLog* log = nullptr) : Log(log) {}
  int MessageBoxA(const std::string& text, const std::string& caption, sys::Dword type) override;
  struct Box {
    std::string Text;
    std::string Caption;
    sys::Dword Type;
  };
  std::vector<Box> Boxes;
  std::deque<int> Answers;

 private:
  EventLog* Log;
};

}  // namespace kestrune::sim
