#include "platform/Vel.h"

#include "BuildConfig.h"
#include "hw/Readwrite.h"
#include "platform/IdentityBlock.h"
#include "platform/Smbiosbase.h"

namespace kestrune {

TVel::TVel() {
  const identity::Identification id = identity::IdentifyBoard(*ReadWrite, config::VelnorPciVendorId, [] {
    const TSmbiosBase* smbios = SmbiosInstance();
    return ByteSpan(smbios->Table);
  });
  Detected = id.Detected;
  BlockFound = id.BlockFound;
  Block = id.LastBlock;
  RawModelName = id.Texts.RawModelName;
  ModelName = id.Texts.ModelName;
  BiosVersion = id.Texts.BiosVersion;
  BiosDate = id.Texts.BiosDate;
  BlockByte37 = id.Texts.BlockByte37;
  BlockByte38 = id.Texts.BlockByte38;
}

TVel::~TVel() = default;

bool TVel::IsVelnorBoard() { return identity::IsVelnorBoard(*ReadWrite, config::VelnorPciVendorId); }

bool TVel::FindIdentityBlock(std::array<std::uint8_t, 64>& block) {
  return identity::FindIdentityBlock(*ReadWrite, block);
}

void TVel::ReadIdentityFromSmbios() {
  const identity::BoardTexts texts = identity::ReadIdentityFromSmbios(SmbiosInstance()->Table);
  RawModelName = texts.RawModelName;
  ModelName = texts.ModelName;
  BiosVersion = texts.BiosVersion;
  BiosDate = texts.BiosDate;
}

std::string TVel::StripTrailingDots(std::string text) { return identity::StripTrailingDots(std::move(text)); }

}  // namespace kestrune
