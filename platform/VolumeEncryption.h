// BitLocker on the system volume, for the install run's last step before a
// BIOS flash: a flash changes what the TPM measures at the next start, and a
// protected volume would then stop at the recovery screen. Protection is
// suspended for exactly one restart, and comes back by itself after it.
#pragma once

#include <string>

namespace kestrune {

enum class EncryptionSuspension {
  NotProtected,  // no BitLocker here, or the volume is not protected
  Suspended,     // protected, and suspended for the next restart
  NotSuspended,  // protected (or it cannot be told), and not suspended
};

class VolumeEncryption {
 public:
  static constexpr const char16_t* kNamespace = u"root\\CIMV2\\Security\\MicrosoftVolumeEncryption";

  // systemDrive: "C:". Asks Win32_EncryptableVolume of the drive for
  // GetProtectionStatus and, when it is protected, calls
  // DisableKeyProtectors with a RebootCount of 1. A system without the
  // namespace or the class (editions without BitLocker) is NotProtected;
  // any other failure, NotSuspended.
  EncryptionSuspension SuspendForOneRestart(const std::u16string& systemDrive);
};

}  // namespace kestrune
