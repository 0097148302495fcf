// A console window that records what is written to it, with the character
// attributes in force for each piece of text.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sys/ConsoleWindow.h"

namespace kestrune::sim {

class FakeConsoleWindow : public sys::IConsoleWindow {
 public:
  static constexpr sys::FileHandle kOutputHandle = 0x7C;

  struct Piece {
    std::u16string Text;  // 8-bit writes are widened byte by byte
    sys::Word Attributes;
    sys::FileHandle Handle;
  };

  bool AllocConsole() override {
    ++Allocations;
    Open = true;
    return true;
  }
  bool FreeConsole() override {
    ++Frees;
    Open = false;
    return true;
  }
  sys::FileHandle GetStdHandle(sys::Dword) override { return Open ? kOutputHandle : 0; }
  bool CloseHandle(sys::FileHandle handle) override {
    Closed.push_back(handle);
    return true;
  }
  bool GetConsoleTextAttribute(sys::FileHandle console, sys::Word* attributes) override {
    if (console != kOutputHandle) {
      return false;
    }
    *attributes = Attributes;
    return true;
  }
  bool SetConsoleTextAttribute(sys::FileHandle console, sys::Word attributes) override {
    if (console != kOutputHandle) {
      return false;
    }
    Attributes = attributes;
    return true;
  }
  bool WriteConsoleA(sys::FileHandle console, const std::string& text) override {
    std::u16string wide;
    for (char c : text) {
      wide.push_back(static_cast<unsigned char>(c));
    }
    return WriteConsoleW(console, wide);
  }
  bool WriteConsoleW(sys::FileHandle console, const std::u16string& text) override {
    Attempts.push_back({text, Attributes, console});
    if (console != kOutputHandle || !Open) {
      return false;
    }
    Written.push_back({text, Attributes, console});
    return true;
  }
  sys::Dword GetLastError() override { return LastError; }
  std::string FormatSystemMessage(sys::Dword error) override {
    auto it = Messages.find(error);
    return it == Messages.end() ? std::string() : it->second;
  }

  // Everything shown, as one text (8-bit pieces narrowed back).
  std::string Shown() const {
    std::string text;
    for (const Piece& piece : Written) {
      for (char16_t c : piece.Text) {
        text.push_back(static_cast<char>(c));
      }
    }
    return text;
  }

  int Allocations = 0;
  int Frees = 0;
  bool Open = false;
  sys::Word Attributes = 7;
  std::vector<sys::FileHandle> Closed;
  std::vector<Piece> Written;   // what reached the console
  std::vector<Piece> Attempts;  // every write, also to other handles
  sys::Dword LastError = 0;
  std::map<sys::Dword, std::string> Messages;
};

}  // namespace kestrune::sim
