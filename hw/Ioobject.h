// The base of every object that reads the machine through the hardware
// access driver. Its constructor asks for the process-wide TReadWrite, so
// the first hardware object of a run loads and opens the driver, and for
// the debug console with the enable flag false, which keeps the console
// inactive for the whole process.
#pragma once

namespace kestrune {

class TReadWrite;
class TDebugConsole;

class TIoObject {
 public:
  TIoObject();
  // Releases nothing: both referenced objects outlive every hardware object.
  virtual ~TIoObject() = default;
  TIoObject(const TIoObject&) = delete;
  TIoObject& operator=(const TIoObject&) = delete;

  TReadWrite* GetReadWrite() const { return ReadWrite; }
  TDebugConsole* GetConsole() const { return Console; }

 protected:
  TReadWrite* ReadWrite;   // not owned
  TDebugConsole* Console;  // not owned
};

}  // namespace kestrune
