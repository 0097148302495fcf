// The AAFT decoder on a table copy: every container it fills must point
// inside the copy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hw/Aaft.h"

using namespace kestrune;

namespace {

void Inside(const TAAFT& aaft, const void* record, std::size_t size) {
  const auto* at = static_cast<const std::uint8_t*>(record);
  if (at < aaft.Table.data() || at + size > aaft.Table.data() + aaft.Table.size()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TAAFT aaft(std::vector<std::uint8_t>(data, data + size));
  for (const auto& [key, entry] : aaft.SetupConfigs) {
    Inside(aaft, entry, sizeof *entry + key.size());
  }
  for (const auto& [key, entry] : aaft.FanTables) {
    Inside(aaft, entry, sizeof *entry);
  }
  for (const auto* entry : aaft.SataModes) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.SetupGuids) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.SetupItems) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.HddSaverTables) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.SataModesEx) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.MacCmosTables) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.UserProfiles) Inside(aaft, entry, sizeof *entry);
  for (const auto* entry : aaft.ModuleVersions) {
    Inside(aaft, entry, sizeof *entry);
    (void)ModuleName(*entry);
  }
  for (const auto* entry : aaft.ModelReferences) {
    Inside(aaft, entry, sizeof *entry + entry->VariableLength);
  }
  for (const auto& item : aaft.EzocItems) {
    (void)ItemText(item);
  }
  return 0;
}
