// Reads a UEFI variable without the operating system's firmware-variable
// interface: a request block in physically contiguous memory and a software
// SMI through the driver, which the firmware's SMI handler answers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/VelDrvContract.h"
#include "hw/Ioobject.h"
#include "hw/Readwrite.h"

namespace kestrune {

// One physically contiguous buffer: its address (kAllocationFailed when the
// allocation failed) and the driver's handle for it.
struct PhysicalBuffer {
  std::uint32_t Address = kAllocationFailed;
  PhysicalBufferHandle Handle{};
};

using EfiGuid = std::array<std::uint8_t, 16>;  // EFI_GUID layout

// Names longer than this do not fit the 256-byte name buffer with their NUL.
// Both limits are the driver's too: it lets no larger read reach the firmware.
inline constexpr std::size_t kMaxVariableNameCharacters = VELDRV_SMI_MAX_NAME_BYTES / 2 - 1;
inline constexpr std::uint32_t kMaxVariableDataSize = VELDRV_SMI_MAX_DATA_SIZE;

class TVariable : public TIoObject {
 public:
  // Allocates the four buffers.
  TVariable();
  // Releases the buffers that were allocated.
  ~TVariable() override;

  // Reads variable `name` (UTF-16, up to its first NUL) of vendor `guid`.
  // status: optional out, the handler's status byte. data: optional out
  // buffer of at least *size bytes. size: in, the low 32 bits are the
  // buffer's size; out, the variable's size with the high 32 bits 0 (on
  // success no more than the size passed in, as that is all that is
  // copied). attributes: in/out. True when the firmware reported success.
  //
  // False at once, with nothing touched, when a buffer could not be
  // allocated, the SMI command port is not known (no FADT was found), the
  // name has more than 127 characters, the size is above 8192 bytes, or
  // size or attributes is null.
  bool GetVariable(const std::u16string& name, const EfiGuid& guid, std::uint8_t* status, void* data,
                   std::uint64_t* size, std::uint32_t* attributes);

  std::uint32_t AllocationFailed = 0;
  PhysicalBuffer RegBlock;
  PhysicalBuffer VariableBlock;
  PhysicalBuffer VariableName;
  PhysicalBuffer VariableData;
  std::vector<std::uint8_t> ClearBuffer;  // kMaxVariableDataSize zeros

 private:
  void Allocate(PhysicalBuffer& buffer, std::uint32_t size, const char* label);
  void Release(PhysicalBuffer& buffer, std::uint32_t size);
};

}  // namespace kestrune
