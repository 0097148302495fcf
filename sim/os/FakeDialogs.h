// Message boxes: every box is recorded; questions are answered from a
// script (Yes when it is empty).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "sim/os/EventLog.h"
#include "sys/Dialogs.h"

namespace kestrune::sim {

class FakeDialogs : public sys::IDialogs {
 public:
  explicit FakeDialogs(EventLog* log = nullptr) : Log(log) {}
  int MessageBoxA(const std::string& text, const std::string& caption, sys::Dword type) override {
    Boxes.push_back({text, caption, type});
    const bool question = (type & sys::kMbYesNo) == sys::kMbYesNo;
    int answer = sys::kIdOk;
    if (question) {
      answer = sys::kIdYes;
      if (!Answers.empty()) {
        answer = Answers.front();
        Answers.pop_front();
      }
    }
    if (Log != nullptr) {
      Log->Add(std::string(question ? "ask " : "message ") + text +
               (question ? (answer == sys::kIdNo ? " -> No" : " -> Yes") : ""));
    }
    return answer;
  }
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
