// The console: collects what the program writes.
#pragma once

#include <string>

#include "sim/os/EventLog.h"
#include "sys/Console.h"

namespace kestrune::sim {

class FakeConsole : public sys::IConsole {
 public:
  explicit FakeConsole(EventLog* log = nullptr) : Log(log) {}
  void Write(std::string_view text) override {
    Output.append(text);
    if (Log != nullptr) {
      Log->Add("print " + std::string(text));
    }
  }
  void Flush() override { ++Flushes; }
  std::string Output;
  int Flushes = 0;

 private:
  EventLog* Log;
};

}  // namespace kestrune::sim
