// The process-wide trace console. When active it opens a console window of
// its own and writes trace lines there, some with a coloured status field.
// Whether it is active is fixed by the first request for it; in this program
// that request always comes from the hardware-object base and asks for an
// inactive console, so no trace line is ever shown.
#pragma once

#include <cstdint>
#include <string>

#include "sys/Files.h"

namespace kestrune {

class TDebugConsole {
 public:
  explicit TDebugConsole(bool active);
  virtual ~TDebugConsole();
  TDebugConsole(const TDebugConsole&) = delete;
  TDebugConsole& operator=(const TDebugConsole&) = delete;

  // Sets the character attributes and answers the previous ones (7 when
  // attributes is 0, or when the console is not open and active).
  std::uint16_t SetColor(std::uint16_t attributes);
  void WriteLine(const std::string& text);
  void WriteLine(const std::u16string& text);
  // name ... [status] with only the status in the given colour.
  void WriteStatus(const std::string& name, const std::string& status, std::uint16_t colour);
  void WriteStatus(const std::u16string& name, const std::u16string& status, std::uint16_t colour);
  // LastError ... [system text of GetLastError()]. Not gated by the active
  // flag: on an inactive console the writes go to the invalid handle.
  void WriteLastError(std::uint16_t colour);

  bool IsActive() const { return Active == 1; }
  sys::FileHandle GetHandle() const { return Handle; }

 private:
  bool CanWrite() const;
  void Write(const std::string& text);
  void Write(const std::u16string& text);

  sys::FileHandle Handle = sys::kInvalidHandleValue;
  std::uint8_t Active = 0;
};

// The process-wide console; the first call creates it with the given flag,
// later calls ignore their argument.
TDebugConsole* DebugConsoleInstance(bool active);
// Destroys the process-wide console. The program never calls it; tests and
// tools do, to start again from a first request.
void ReleaseDebugConsoleInstance();

}  // namespace kestrune
