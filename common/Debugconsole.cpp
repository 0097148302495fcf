#include "common/Debugconsole.h"

#include "sys/ConsoleWindow.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

constexpr std::uint16_t kDefaultAttributes = 7;
TDebugConsole* instance = nullptr;

sys::IConsoleWindow& Window() { return sys::Use<sys::IConsoleWindow>(); }

}  // namespace

TDebugConsole::TDebugConsole(bool active) : Active(active ? 1 : 0) {
  if (Active == 1) {
    Window().AllocConsole();
    Handle = Window().GetStdHandle(sys::kStdOutputHandle);
  }
}

TDebugConsole::~TDebugConsole() {
  if (Handle != sys::kInvalidHandleValue) {
    Window().FreeConsole();
    Window().CloseHandle(Handle);
    Handle = sys::kInvalidHandleValue;
  }
}

bool TDebugConsole::CanWrite() const { return Handle != 0 && Active == 1; }

std::uint16_t TDebugConsole::SetColor(std::uint16_t attributes) {
  if (!CanWrite()) {
    return kDefaultAttributes;
  }
  std::uint16_t previous = kDefaultAttributes;
  if (attributes != 0) {
    sys::Word current = kDefaultAttributes;
    if (Window().GetConsoleTextAttribute(Handle, &current)) {
      previous = current;
    }
  }
  Window().SetConsoleTextAttribute(Handle, attributes);
  return previous;
}

void TDebugConsole::Write(const std::string& text) { Window().WriteConsoleA(Handle, text); }

void TDebugConsole::Write(const std::u16string& text) { Window().WriteConsoleW(Handle, text); }

void TDebugConsole::WriteLine(const std::string& text) {
  if (CanWrite()) {
    Write(text + "\n");
  }
}

void TDebugConsole::WriteLine(const std::u16string& text) {
  if (CanWrite()) {
    Write(text + u"\n");
  }
}

void TDebugConsole::WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour) {
  if (!CanWrite()) {
    return;
  }
  Write(name + " ... [");
  SetColor(colour);
  Write(status);
  SetColor(kDefaultAttributes);
  Write(std::string("]\n"));
}

void TDebugConsole::WriteStatus(const std::u16string& name, const std::u16string& status, std::uint16_t colour) {
  if (!CanWrite()) {
    return;
  }
  Write(name + u" ... [");
  SetColor(colour);
  Write(status);
  SetColor(kDefaultAttributes);
  Write(std::u16string(u"]\n"));
}

void TDebugConsole::WriteLastError(std::uint16_t colour) {
  const sys::Dword error = Window().GetLastError();
  const std::string text = Window().FormatSystemMessage(error);
  Write(std::string("LastError"));
  Write(std::string(" ... ["));
  SetColor(colour);
  Write(text);
  SetColor(kDefaultAttributes);
  Write(std::string("]"));
  Write(std::string("\n"));
}

TDebugConsole* DebugConsoleInstance(bool active) {
  if (instance == nullptr) {
    instance = new TDebugConsole(active);
  }
  return instance;
}

void ReleaseDebugConsoleInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
