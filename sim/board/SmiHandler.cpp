#include "sim/board/SmiHandler.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "common/DriverContract.h"
#include "common/LittleEndian.h"

namespace kestrune::sim {

namespace {

// The longest name the variable service takes, its NUL included.
constexpr std::uint32_t kMaxNameCharacters = VELDRV_SMI_MAX_NAME_BYTES / 2;

}  // namespace

bool SmiHandler::ReadName(std::uint32_t address, std::u16string& name) const {
  for (std::uint32_t i = 0; i < kMaxNameCharacters; ++i) {
    std::uint8_t pair[2];
    memory_.Read(static_cast<std::uint64_t>(address) + 2 * i, pair, 2);
    const char16_t c = Le16(pair);
    if (c == 0) {
      return true;
    }
    name.push_back(c);
  }
  return false;
}

const BoardVariable* SmiHandler::Find(const std::u16string& name, const std::uint8_t* vendorGuid) const {
  for (const BoardVariable& variable : smi_->Variables) {
    if (variable.Name == name && std::equal(variable.VendorGuid.begin(), variable.VendorGuid.end(), vendorGuid)) {
      return &variable;
    }
  }
  return nullptr;
}

void SmiHandler::Raise(DRV_SMI_REGISTERS& registers) {
  // Only the board's SMI command port raises an SMI, and its handler knows
  // one command byte.
  if (smi_ != nullptr && static_cast<std::uint16_t>(registers.Edx) == smi_->Port) {
    ++count_;
    if (static_cast<std::uint8_t>(registers.Eax) == kSmiCommandByte) {
      GetVariable(registers);
      registers.Eax = memory_.ReadDword(registers.Esi);
    }
  }
}

void SmiHandler::GetVariable(const DRV_SMI_REGISTERS& registers) {
  const std::uint32_t registerBlock = registers.Esi;
  SMI_REGISTER_BLOCK request;
  memory_.Read(registerBlock, reinterpret_cast<std::uint8_t*>(&request), sizeof request);
  const std::uint32_t variableBlock = request.VariableBlockAddress;
  std::uint8_t status = kSmiStatusSuccess;
  if (registers.Eax != kSmiGetVariable || request.Eax != kSmiGetVariable) {
    // The command byte's one service offers one function: reading a variable.
    status = kSmiStatusUnsupported;
  } else if (variableBlock != registers.Ebx || std::any_of(std::begin(request.Unused), std::end(request.Unused),
                                                           [](std::uint32_t w) { return w != 0; })) {
    status = kSmiStatusInvalidParameter;
  } else {
    SMI_VARIABLE_BLOCK block;
    memory_.Read(variableBlock, reinterpret_cast<std::uint8_t*>(&block), sizeof block);
    std::u16string name;
    const bool terminated = ReadName(block.NameAddress, name);
    const BoardVariable* found = terminated ? Find(name, block.VendorGuid) : nullptr;
    if (!terminated || block.DataSize > VELDRV_SMI_MAX_DATA_SIZE) {
      status = kSmiStatusInvalidParameter;
    } else if (found == nullptr) {
      status = kSmiStatusNotFound;
    } else if (block.DataSize < found->Data.size()) {
      block.DataSize = static_cast<std::uint32_t>(found->Data.size());
      status = kSmiStatusBufferTooSmall;
    } else {
      memory_.Write(block.DataAddress, found->Data.data(), found->Data.size());
      block.DataSize = static_cast<std::uint32_t>(found->Data.size());
      block.Attributes = found->Attributes;
    }
    if (status == kSmiStatusSuccess || status == kSmiStatusBufferTooSmall) {
      memory_.Write(variableBlock, reinterpret_cast<const std::uint8_t*>(&block), sizeof block);
    }
  }
  memory_.WriteDword(registerBlock, (request.Eax & ~0xFF00u) | (static_cast<std::uint32_t>(status) << 8));
}

}  // namespace kestrune::sim
