// BitLocker against Wine's WMI service, which has no BitLocker provider:
// the run goes on as on a Windows edition without BitLocker. The adapter's
// method calls are exercised on a provider Wine has (StdRegProv).
#include <gtest/gtest.h>

#include <memory>

#include "platform/VolumeEncryption.h"
#include "sys/Seam.h"
#include "sys/win32/Win32Com.h"
#include "sys/win32/Win32Wmi.h"

namespace kestrune {
namespace {

class VolumeEncryptionWineTest : public ::testing::Test {
 protected:
  sys::win32::Win32Com Com;
  sys::win32::Win32Wmi Wmi;

 private:
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::IWmi> WmiSeam{Wmi};
};

TEST_F(VolumeEncryptionWineTest, NamespaceMissingGoesOn) {
  EXPECT_EQ(VolumeEncryption().SuspendForOneRestart(u"C:"), EncryptionSuspension::NotProtected);

  const sys::ComApartment apartment(sys::kCoInitApartmentThreaded);
  std::unique_ptr<sys::WbemLocator> locator;
  ASSERT_EQ(Wmi.CreateWbemLocator(sys::kClsctxInprocServer | sys::kClsctxLocalServer, &locator), sys::kSOk);
  std::unique_ptr<sys::WbemServices> services;
  EXPECT_EQ(locator->ConnectServer(VolumeEncryption::kNamespace, 0, &services), sys::kWbemEInvalidNamespace);
}

// A method with input parameters, the way the suspension calls one:
// GetMethod, SpawnInstance, Put, ExecMethod by the object's path, and the
// output's ReturnValue.
TEST_F(VolumeEncryptionWineTest, MethodCallWithInputParameters) {
  const sys::ComApartment apartment(sys::kCoInitApartmentThreaded);
  std::unique_ptr<sys::WbemLocator> locator;
  ASSERT_EQ(Wmi.CreateWbemLocator(sys::kClsctxInprocServer | sys::kClsctxLocalServer, &locator), sys::kSOk);
  std::unique_ptr<sys::WbemServices> services;
  ASSERT_EQ(locator->ConnectServer(u"root\\default", 0, &services), sys::kSOk);
  EXPECT_TRUE(sys::Succeeded(services->SetProxyBlanket(sys::kRpcCAuthnLevelPktPrivacy, sys::kRpcCImpLevelImpersonate)));
  std::unique_ptr<sys::WbemClassObject> registry, signature, in, out;
  ASSERT_EQ(services->GetWbemObject(u"StdRegProv", &registry), sys::kSOk);
  ASSERT_EQ(registry->GetMethod(u"GetStringValue", &signature), sys::kSOk);
  ASSERT_NE(signature, nullptr);
  ASSERT_EQ(signature->SpawnInstance(&in), sys::kSOk);
  sys::Variant key;
  key.Vt = sys::kVtBstr;
  key.BstrVal = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
  sys::Variant name;
  name.Vt = sys::kVtBstr;
  name.BstrVal = u"CurrentBuildNumber";
  // A 32-bit number, as the suspension's RebootCount is: HKEY_LOCAL_MACHINE.
  sys::Variant root;
  root.Vt = sys::kVtI4;
  root.IntVal = static_cast<std::int32_t>(0x80000002u);
  ASSERT_EQ(in->Put(u"hDefKey", root), sys::kSOk);
  ASSERT_EQ(in->Put(u"sSubKeyName", key), sys::kSOk);
  ASSERT_EQ(in->Put(u"sValueName", name), sys::kSOk);
  ASSERT_EQ(services->ExecMethod(u"StdRegProv", u"GetStringValue", in.get(), &out), sys::kSOk);
  ASSERT_NE(out, nullptr);
  sys::Variant result;
  ASSERT_EQ(out->Get(u"ReturnValue", 0, &result), sys::kSOk);
  EXPECT_EQ(result.IntVal, 0);
  sys::Variant value;
  ASSERT_EQ(out->Get(u"sValue", 0, &value), sys::kSOk);
  EXPECT_EQ(value.Vt, sys::kVtBstr);
  EXPECT_FALSE(value.BstrVal.empty());
}

}  // namespace
}  // namespace kestrune
