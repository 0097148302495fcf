#include "sim/os/FakeDialogs.h"

namespace kestrune::sim {

int FakeDialogs::MessageBoxA(const std::string& text, const std::string& caption, sys::Dword type) {
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

}  // namespace kestrune::sim
