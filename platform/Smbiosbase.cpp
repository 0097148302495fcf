#include "platform/Smbiosbase.h"

#include <functional>

#include "hw/Readwrite.h"
#include "platform/SmbiosTable.h"
#include "sys/CodePage.h"
#include "sys/Seam.h"

namespace kestrune {

namespace {

TSmbiosBase* instance = nullptr;

}  // namespace

TSmbiosBase::TSmbiosBase() {
  smbios::LoadedTable loaded = smbios::LoadTable(*ReadWrite);
  Loaded = loaded.Loaded;
  Table = std::move(loaded.Table);
  TableLength = loaded.TableLength;
  TableAddress = loaded.TableAddress;
  SmbiosVersion = loaded.Version;
}

TSmbiosBase::~TSmbiosBase() = default;

const SmbiosStructure* TSmbiosBase::FindStructure(std::uint8_t type, std::uint32_t index) const {
  if (!Loaded) {
    return nullptr;
  }
  const auto offset = smbios::FindStructure(Table, type, index);
  return offset ? reinterpret_cast<const SmbiosStructure*>(Table.data() + *offset) : nullptr;
}

std::u16string TSmbiosBase::GetStructureString(const SmbiosStructure* structure, std::uint8_t number) const {
  const auto* at = reinterpret_cast<const std::uint8_t*>(structure);
  const std::less<const std::uint8_t*> before;  // a total order, also for pointers elsewhere
  if (at == nullptr || Table.empty() || before(at, Table.data()) || !before(at, Table.data() + Table.size())) {
    return {};
  }
  const std::string text = smbios::StructureString(Table, static_cast<std::size_t>(at - Table.data()), number);
  return sys::Use<sys::ICodePage>().MultiByteToWideChar(sys::kCpAcp, text).value_or(std::u16string());
}

std::u16string TSmbiosBase::GetBaseboardProduct() const {
  const SmbiosStructure* board = FindStructure(smbios::kTypeBaseboard, 0);
  if (board == nullptr || board->Length <= smbios::kBaseboardProductString) {
    return {};
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(board);
  return smbios::TrimText(GetStructureString(board, bytes[smbios::kBaseboardProductString]));
}

TSmbiosBase* SmbiosInstance() {
  if (instance == nullptr) {
    instance = new TSmbiosBase();
  }
  return instance;
}

void ReleaseSmbiosInstance() {
  delete instance;
  instance = nullptr;
}

}  // namespace kestrune
