#include "platform/VolumeEncryption.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "sim/os/EventLog.h"
#include "sim/os/FakeCom.h"
#include "sim/os/FakeWmi.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

constexpr const char16_t* kPath =
    u"\\\\PC\\root\\CIMV2\\Security\\MicrosoftVolumeEncryption:Win32_EncryptableVolume.DeviceID="
    u"\"\\\\\\\\?\\\\Volume{0a1b}\\\\\"";
const std::string kSuspend = "ExecMethod " + sim::RecordText(kPath) + " DisableKeyProtectors RebootCount=1";

sys::Variant Number(std::int64_t value) { return sim::IntegerVariant(sys::kVtI4, value); }
sys::Variant Text(const std::u16string& text) { return sim::TextVariant(text); }

sys::Variant Null() {
  sys::Variant variant;
  variant.Vt = sys::kVtNull;
  return variant;
}

// A Windows 10 Pro with BitLocker: the provider, its class, the system
// volume C: with the given protection status, and its two methods.
class VolumeEncryptionTest : public ::testing::Test {
 public:
  VolumeEncryptionTest() {
    Wmi.RequiresPacketPrivacy = true;
    Wmi.ClassName = u"Win32_EncryptableVolume";
    Wmi.Objects = {{{{u"__PATH", Text(kPath)}, {u"DriveLetter", Text(u"C:")}}}};
    Wmi.Methods[u"GetProtectionStatus"] = {
        {}, sys::kSOk, {{u"ReturnValue", Number(0)}, {u"ProtectionStatus", Number(1)}}};
    Wmi.Methods[u"DisableKeyProtectors"] = {{{u"RebootCount", Null()}}, sys::kSOk, {{u"ReturnValue", Number(0)}}};
  }

  EncryptionSuspension Suspend() { return VolumeEncryption().SuspendForOneRestart(u"C:"); }
  bool Called(const std::string& call) const {
    return std::find(Wmi.Calls.begin(), Wmi.Calls.end(), call) != Wmi.Calls.end();
  }

  sim::FakeCom Com;
  sim::FakeWmi Wmi{Com};

 private:
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::IWmi> WmiSeam{Wmi};
};

struct EncryptionCase {
  const char* name;
  std::function<void(sim::FakeWmi&)> machine;
  EncryptionSuspension expected;
  bool suspends;  // DisableKeyProtectors is called with a RebootCount of 1
};

class VolumeEncryptionCases : public VolumeEncryptionTest, public ::testing::WithParamInterface<EncryptionCase> {};

TEST_P(VolumeEncryptionCases, SuspendedForOneRestartOnlyWhenProtected) {
  const EncryptionCase& c = GetParam();
  c.machine(Wmi);
  EXPECT_EQ(Suspend(), c.expected);
  EXPECT_EQ(Called(kSuspend), c.suspends);
  // Every COM object is released, and COM is left as it was found.
  EXPECT_EQ(Wmi.LiveObjects, 0);
  EXPECT_EQ(Com.Apartments, 0);
}

void SetStatus(sim::FakeWmi& wmi, std::int64_t status) {
  wmi.Methods[u"GetProtectionStatus"].OutParameters[1].Value = Number(status);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, VolumeEncryptionCases,
    ::testing::Values(
        EncryptionCase{"Protected", [](auto&) {}, EncryptionSuspension::Suspended, true},
        // "Unknown" is what a locked volume reports; the system volume is
        // never locked, so it is taken for protected.
        EncryptionCase{"StatusUnknown", [](auto& wmi) { SetStatus(wmi, 2); }, EncryptionSuspension::Suspended, true},
        EncryptionCase{"NotProtected", [](auto& wmi) { SetStatus(wmi, 0); }, EncryptionSuspension::NotProtected, false},
        EncryptionCase{
            "SuspensionRefused",
            [](auto& wmi) { wmi.Methods[u"DisableKeyProtectors"].OutParameters[0].Value = Number(0x80310000); },
            EncryptionSuspension::NotSuspended, true},
        EncryptionCase{"SuspensionCallFails",
                       [](auto& wmi) { wmi.Methods[u"DisableKeyProtectors"].Result = sys::kWbemEAccessDenied; },
                       EncryptionSuspension::NotSuspended, true},
        EncryptionCase{"StatusCannotBeRead",
                       [](auto& wmi) { wmi.Methods[u"GetProtectionStatus"].Result = sys::kWbemEFailed; },
                       EncryptionSuspension::NotSuspended, false},
        EncryptionCase{"NamespaceMissing",
                       [](auto& wmi) { wmi.MissingNamespaces.insert(VolumeEncryption::kNamespace); },
                       EncryptionSuspension::NotProtected, false},
        EncryptionCase{"ClassMissing", [](auto& wmi) { wmi.ExecQueryResult = sys::kWbemEInvalidClass; },
                       EncryptionSuspension::NotProtected, false},
        EncryptionCase{"NoWmi", [](auto& wmi) { wmi.LocatorResult = sys::kRegdbEClassNotReg; },
                       EncryptionSuspension::NotProtected, false},
        // The system drive is no encryptable volume (no row for it).
        EncryptionCase{"DriveNotEncryptable", [](auto& wmi) { wmi.Objects.clear(); },
                       EncryptionSuspension::NotProtected, false},
        EncryptionCase{"WmiServiceFails", [](auto& wmi) { wmi.ConnectResult = sys::kWbemEFailed; },
                       EncryptionSuspension::NotSuspended, false}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(VolumeEncryptionTest, AsksForTheSystemDriveOverAnEncryptedConnection) {
  EXPECT_EQ(Suspend(), EncryptionSuspension::Suspended);
  EXPECT_TRUE(Called("ConnectServer root\\CIMV2\\Security\\MicrosoftVolumeEncryption 0"));
  EXPECT_TRUE(Called("SetProxyBlanket 6 3"));
  EXPECT_TRUE(Called("ExecQuery WQL SELECT * FROM Win32_EncryptableVolume WHERE DriveLetter='C:' 16"));
  EXPECT_TRUE(Called("ExecMethod " + sim::RecordText(kPath) + " GetProtectionStatus"));
}

// The provider answers nothing over a connection without packet privacy:
// the fake holds to that, so a suspension without it would be refused.
TEST_F(VolumeEncryptionTest, FakeRefusesAConnectionWithoutPacketPrivacy) {
  std::unique_ptr<sys::WbemLocator> locator;
  ASSERT_EQ(Com.CoInitializeEx(sys::kCoInitApartmentThreaded), sys::kSOk);
  ASSERT_EQ(Wmi.CreateWbemLocator(5, &locator), sys::kSOk);
  std::unique_ptr<sys::WbemServices> services;
  ASSERT_EQ(locator->ConnectServer(VolumeEncryption::kNamespace, 0, &services), sys::kSOk);
  std::unique_ptr<sys::WbemClassObject> out;
  EXPECT_EQ(services->ExecMethod(kPath, u"GetProtectionStatus", nullptr, &out), sys::kWbemEAccessDenied);
  // Parameters of another method are refused as WMI refuses them.
  services->SetProxyBlanket(sys::kRpcCAuthnLevelPktPrivacy, sys::kRpcCImpLevelImpersonate);
  std::unique_ptr<sys::WbemClassObject> volumeClass, signature, in;
  ASSERT_EQ(services->GetWbemObject(u"Win32_EncryptableVolume", &volumeClass), sys::kSOk);
  ASSERT_EQ(volumeClass->GetMethod(u"DisableKeyProtectors", &signature), sys::kSOk);
  ASSERT_EQ(signature->SpawnInstance(&in), sys::kSOk);
  EXPECT_EQ(in->Put(u"Reboots", Number(1)), sys::kWbemENotFound);
  EXPECT_EQ(services->ExecMethod(kPath, u"GetProtectionStatus", in.get(), &out), sys::kWbemEInvalidParameter);
  EXPECT_EQ(
      services->ExecMethod(u"Win32_EncryptableVolume.DeviceID=\"other\"", u"DisableKeyProtectors", in.get(), &out),
      sys::kWbemENotFound);
  out.reset();
  in.reset();
  signature.reset();
  volumeClass.reset();
  services.reset();
  locator.reset();
  Com.CoUninitialize();
}

}  // namespace
}  // namespace kestrune
