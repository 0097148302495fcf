#include "hw/Variable.h"

#include <algorithm>
#include <cstring>

#include "common/Debugconsole.h"
#include "common/DriverContract.h"
#include "common/Utils.h"
#include "hw/Rwconfig.h"
#include "hw/Trace.h"

namespace kestrune {

namespace {

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

TVariable::TVariable() {
  Allocate(RegBlock, kSmiRegisterBufferSize, "RegBlockPhysical=");
  Allocate(VariableBlock, kSmiVariableBufferSize, "VariableBlockPhysical=");
  Allocate(VariableName, kSmiNameBufferSize, "VariableNamePhysical=");
  Allocate(VariableData, kSmiDataBufferSize, "VariableDataPhysical=");
  ClearBuffer.assign(kMaxVariableDataSize, 0);
}

TVariable::~TVariable() {
  Release(VariableData, kSmiDataBufferSize);
  Release(VariableName, kSmiNameBufferSize);
  Release(VariableBlock, kSmiVariableBufferSize);
  Release(RegBlock, kSmiRegisterBufferSize);
}

void TVariable::Allocate(PhysicalBuffer& buffer, std::uint32_t size, const char* label) {
  buffer.Address = ReadWrite->AllocPhysicalBuffer(buffer.Handle, size);
  Console->WriteLine(label + HexText(buffer.Address));
  if (buffer.Address == kAllocationFailed) {
    AllocationFailed = 1;
  }
}

void TVariable::Release(PhysicalBuffer& buffer, std::uint32_t size) {
  if (buffer.Address != kAllocationFailed) {
    ReadWrite->FreePhysicalBuffer(buffer.Handle, size);
    buffer.Address = kAllocationFailed;
  }
}

bool TVariable::GetVariable(const std::u16string& name, const EfiGuid& guid, std::uint8_t* status, void* data,
                            std::uint64_t* size, std::uint32_t* attributes) {
  const std::u16string shortName = name.substr(0, name.find(u'\0'));
  const std::uint16_t port = ReadWrite->GetConfig().GetRwCfg().SmiCommandPort;
  if (AllocationFailed == 1 || port == 0 || shortName.size() > kMaxVariableNameCharacters || size == nullptr ||
      attributes == nullptr || static_cast<std::uint32_t>(*size) > kMaxVariableDataSize) {
    return false;
  }
  const auto requested = static_cast<std::uint32_t>(*size);

  // No data of an earlier read may be left for this one.
  if (!ReadWrite->WritePhysicalMemory(ClearBuffer.data(), kSmiDataBufferSize, VariableData.Address)) {
    return false;
  }
  SMI_VARIABLE_BLOCK block{};
  std::memcpy(block.VendorGuid, guid.data(), guid.size());
  block.NameAddress = VariableName.Address;
  block.Attributes = *attributes;
  block.DataSize = requested;
  block.DataAddress = VariableData.Address;
  Console->WriteLine(u"GetVariable:VariableName=" + shortName);

  std::vector<std::uint8_t> nameBytes((shortName.size() + 1) * 2, 0);
  for (std::size_t i = 0; i < shortName.size(); ++i) {
    nameBytes[2 * i] = static_cast<std::uint8_t>(shortName[i]);
    nameBytes[2 * i + 1] = static_cast<std::uint8_t>(shortName[i] >> 8);
  }
  SMI_REGISTER_BLOCK registerBlock{};
  registerBlock.Eax = kSmiGetVariable;
  registerBlock.VariableBlockAddress = VariableBlock.Address;
  if (!ReadWrite->WritePhysicalMemory(nameBytes.data(), static_cast<std::uint32_t>(nameBytes.size()),
                                      VariableName.Address) ||
      !ReadWrite->WritePhysicalMemory(&block, sizeof block, VariableBlock.Address) ||
      !ReadWrite->WritePhysicalMemory(&registerBlock, sizeof registerBlock, RegBlock.Address)) {
    return false;
  }

  DRV_SMI_REGISTERS registers{};
  registers.Eax = kSmiGetVariable;
  registers.Ebx = VariableBlock.Address;
  registers.Edx = port;
  registers.Esi = RegBlock.Address;
  if (!ReadWrite->SoftwareSmi(registers)) {
    return false;
  }
  if (!ReadWrite->ReadPhysicalMemory(&registerBlock, sizeof registerBlock, RegBlock.Address)) {
    return false;
  }
  const std::uint8_t result = SmiStatusOf(registerBlock.Eax);
  if (status != nullptr) {
    *status = result;
  }

  if (result == kSmiStatusSuccess) {
    if (!ReadWrite->ReadPhysicalMemory(&block, sizeof block, VariableBlock.Address)) {
      return false;
    }
    // Never more than the caller's buffer, whatever size the firmware reports.
    const std::uint32_t length = std::min(block.DataSize, requested);
    if (data != nullptr && length > 0 && !ReadWrite->ReadPhysicalMemory(data, length, VariableData.Address)) {
      return false;
    }
    *attributes = block.Attributes;
    *size = length;
    return true;
  }

  if (result == kSmiStatusBufferTooSmall &&
      ReadWrite->ReadPhysicalMemory(&block, sizeof block, VariableBlock.Address)) {
    *size = block.DataSize;
  }
  Console->WriteLine("GetVariable:Error code EAX=" + HexText(registers.Eax));
  Console->WriteStatus(u"GetVariable ",
                       u"Error " + shortName + u" Size (" + Widen(std::to_string(static_cast<std::uint32_t>(*size))) +
                           u") => " + Widen(HexText(registerBlock.Eax)),
                       kColourRed);
  return false;
}

}  // namespace kestrune
