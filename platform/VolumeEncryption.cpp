#include "platform/VolumeEncryption.h"

#include <memory>

#include "sys/Com.h"
#include "sys/Seam.h"
#include "sys/Wmi.h"

namespace kestrune {

namespace {

constexpr std::int64_t kProtectionOff = 0;
constexpr std::int32_t kRebootCount = 1;

// A method's ReturnValue and, when asked, one more output property.
struct MethodAnswer {
  bool Succeeded = false;  // the call and its ReturnValue of 0
  std::int64_t Value = 0;
};

MethodAnswer Call(sys::WbemServices& services, const std::u16string& path, const std::u16string& method,
                  sys::WbemClassObject* in, const std::u16string& output) {
  std::unique_ptr<sys::WbemClassObject> out;
  MethodAnswer answer;
  if (!sys::Obtained(services.ExecMethod(path, method, in, &out), out)) {
    return answer;
  }
  sys::Variant result;
  if (!sys::Succeeded(out->Get(u"ReturnValue", 0, &result)) || result.Vt == sys::kVtNull || result.IntVal != 0) {
    return answer;
  }
  if (!output.empty()) {
    sys::Variant value;
    if (!sys::Succeeded(out->Get(output, 0, &value)) || value.Vt == sys::kVtNull) {
      return answer;
    }
    answer.Value = value.IntVal;
  }
  answer.Succeeded = true;
  return answer;
}

bool Suspend(sys::WbemServices& services, const std::u16string& path) {
  std::unique_ptr<sys::WbemClassObject> volumeClass;
  std::unique_ptr<sys::WbemClassObject> signature;
  std::unique_ptr<sys::WbemClassObject> in;
  if (!sys::Obtained(services.GetWbemObject(u"Win32_EncryptableVolume", &volumeClass), volumeClass) ||
      !sys::Obtained(volumeClass->GetMethod(u"DisableKeyProtectors", &signature), signature) ||
      !sys::Obtained(signature->SpawnInstance(&in), in)) {
    return false;
  }
  // Without a RebootCount the protection would stay off until someone
  // turns it on again.
  sys::Variant count;
  count.Vt = sys::kVtI4;
  count.IntVal = kRebootCount;
  if (!sys::Succeeded(in->Put(u"RebootCount", count))) {
    return false;
  }
  return Call(services, path, u"DisableKeyProtectors", in.get(), {}).Succeeded;
}

EncryptionSuspension SuspendOnConnection(sys::IWmi& wmi, const std::u16string& systemDrive) {
  std::unique_ptr<sys::WbemLocator> locator;
  const sys::HResult created = wmi.CreateWbemLocator(sys::kClsctxInprocServer | sys::kClsctxLocalServer, &locator);
  if (created == sys::kRegdbEClassNotReg) {
    return EncryptionSuspension::NotProtected;  // no WMI at all
  }
  if (!sys::Obtained(created, locator)) {
    return EncryptionSuspension::NotSuspended;
  }
  std::unique_ptr<sys::WbemServices> services;
  const sys::HResult connected = locator->ConnectServer(VolumeEncryption::kNamespace, 0, &services);
  if (connected == sys::kWbemEInvalidNamespace) {
    return EncryptionSuspension::NotProtected;  // an edition without BitLocker
  }
  // The provider changes the machine: it talks only over an encrypted
  // connection.
  if (!sys::Obtained(connected, services) ||
      !sys::Succeeded(services->SetProxyBlanket(sys::kRpcCAuthnLevelPktPrivacy, sys::kRpcCImpLevelImpersonate))) {
    return EncryptionSuspension::NotSuspended;
  }
  std::unique_ptr<sys::WbemEnumerator> volumes;
  const sys::HResult queried =
      services->ExecQuery(u"WQL", u"SELECT * FROM Win32_EncryptableVolume WHERE DriveLetter='" + systemDrive + u"'",
                          sys::kWbemFlagReturnImmediately, &volumes);
  if (queried == sys::kWbemEInvalidClass) {
    return EncryptionSuspension::NotProtected;
  }
  if (!sys::Obtained(queried, volumes)) {
    return EncryptionSuspension::NotSuspended;
  }
  std::unique_ptr<sys::WbemClassObject> volume;
  sys::Dword returned = 0;
  const sys::HResult next = volumes->Next(sys::kWbemInfinite, &volume, &returned);
  if (next == sys::kWbemSFalse && returned == 0) {
    return EncryptionSuspension::NotProtected;  // the drive is no encryptable volume
  }
  sys::Variant path;
  if (next != sys::kSOk || !volume || !sys::Succeeded(volume->Get(u"__PATH", 0, &path)) || path.Vt != sys::kVtBstr ||
      path.BstrVal.empty()) {
    return EncryptionSuspension::NotSuspended;
  }
  const MethodAnswer status = Call(*services, path.BstrVal, u"GetProtectionStatus", nullptr, u"ProtectionStatus");
  if (!status.Succeeded) {
    return EncryptionSuspension::NotSuspended;
  }
  if (status.Value == kProtectionOff) {
    return EncryptionSuspension::NotProtected;
  }
  return Suspend(*services, path.BstrVal) ? EncryptionSuspension::Suspended : EncryptionSuspension::NotSuspended;
}

}  // namespace

EncryptionSuspension VolumeEncryption::SuspendForOneRestart(const std::u16string& systemDrive) {
  const sys::ComApartment apartment(sys::kCoInitApartmentThreaded);
  if (!apartment.Usable()) {
    return EncryptionSuspension::NotSuspended;
  }
  const sys::HResult security = sys::Use<sys::ICom>().CoInitializeSecurity(
      sys::kAuthnServicesDefault, sys::kRpcCAuthnLevelDefault, sys::kRpcCImpLevelImpersonate, sys::kEoacNone);
  // RPC_E_TOO_LATE: another part of the process has set security already.
  if (security != sys::kSOk && security != sys::kRpcETooLate) {
    return EncryptionSuspension::NotSuspended;
  }
  // The COM objects go before the apartment does.
  return SuspendOnConnection(sys::Use<sys::IWmi>(), systemDrive);
}

}  // namespace kestrune
