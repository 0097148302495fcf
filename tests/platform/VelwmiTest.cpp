#include "platform/Velwmi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sim/os/FakeWmi.h"
#include "sys/Seam.h"

namespace kestrune {
namespace {

sys::Variant Scalar(sys::VarType type, std::int64_t value) { return sim::IntegerVariant(type, value); }
sys::Variant Text(const std::u16string& text) { return sim::TextVariant(text); }

// An array whose elements are `size` bytes wide, little-endian, exactly as
// many bytes as the elements take.
sys::Variant Array(sys::VarType elementType, sys::Dword size, const std::vector<std::uint64_t>& elements) {
  sys::Variant variant;
  variant.Vt = static_cast<sys::VarType>(sys::kVtArray | elementType);
  variant.ElementSize = size;
  variant.ElementCount = static_cast<sys::Dword>(elements.size());
  for (std::uint64_t element : elements) {
    for (sys::Dword byte = 0; byte < size; ++byte) {
      variant.Elements.push_back(static_cast<std::uint8_t>(element >> (8 * byte)));
    }
  }
  return variant;
}

// An array of references: its elements carry no values.
sys::Variant ReferenceArray(sys::VarType elementType, sys::Dword size, sys::Dword count) {
  sys::Variant variant;
  variant.Vt = static_cast<sys::VarType>(sys::kVtArray | elementType);
  variant.ElementSize = size;
  variant.ElementCount = count;
  return variant;
}

sim::FakeWmi::Object ObjectWith(std::vector<sim::FakeWmi::Property> properties) {
  sim::FakeWmi::Object object;
  object.Properties = std::move(properties);
  return object;
}

sim::FakeWmi::Object Adapter(const std::u16string& pnpDeviceId) {
  return ObjectWith({{u"PNPDeviceID", Text(pnpDeviceId)}});
}

class VelwmiTest : public ::testing::Test {
 protected:
  std::size_t CallsStartingWith(const std::string& prefix) const {
    return static_cast<std::size_t>(std::count_if(Wmi.Calls.begin(), Wmi.Calls.end(),
                                                  [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
  }

  sim::FakeCom Com;
  sim::FakeWmi Wmi{Com};

 private:
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::IWmi> WmiSeam{Wmi};
};

TEST_F(VelwmiTest, PropertyValuesRenderByTheirType) {
  const struct {
    const char16_t* name;
    sys::Variant value;
    const char16_t* text;
  } cases[] = {
      {u"Null", Scalar(sys::kVtNull, 0), u"NULL"},
      {u"Text", Text(u"Intel(R) Ethernet Connection I219-V"), u"Intel(R) Ethernet Connection I219-V"},
      {u"EmptyText", Text(u""), u""},
      {u"Int16", Scalar(sys::kVtI2, -7), u"-7"},
      {u"Int32", Scalar(sys::kVtI4, 123456), u"123456"},
      {u"Byte", Scalar(sys::kVtUi1, 200), u"200"},
      {u"True", Scalar(sys::kVtBool, -1), u"TRUE"},
      {u"TrueOne", Scalar(sys::kVtBool, 1), u"TRUE"},
      {u"False", Scalar(sys::kVtBool, 0), u"FALSE"},
      {u"Words32", Array(sys::kVtUi4, 4, {1, 0xABCD, 0xFFFFFFFF}), u"0x00000001,0x0000ABCD,0xFFFFFFFF"},
      {u"SignedWords32", Array(sys::kVtI4, 4, {0xFFFFFFFF}), u"0xFFFFFFFF"},
      {u"NoElements", Array(sys::kVtUi4, 4, {}), u""},
      {u"Words16", Array(sys::kVtUi2, 2, {1, 0xBEEF, 0xFFFF}), u"0x00000001,0x0000BEEF,0x0000FFFF"},
      {u"Bytes", Array(sys::kVtUi1, 1, {0x12, 0x34, 0x56}), u"0x00000012,0x00000034,0x00000056"},
      {u"Words64", Array(sys::kVtI8, 8, {0x100000002ull, 0xFFFFFFFF00000000ull}), u"0x00000002,0x00000000"},
      {u"Strings", ReferenceArray(sys::kVtBstr, 8, 3), u""},
      {u"Variants", ReferenceArray(sys::kVtVariant, 24, 2), u""},
      {u"Empty", Scalar(sys::kVtEmpty, 0), u""},
      {u"Unsigned16", Scalar(sys::kVtUi2, 5), u""},
      {u"Unsigned32", Scalar(sys::kVtUi4, 5), u""},
      {u"Int64", Scalar(sys::kVtI8, 5), u""},
      {u"Float", Scalar(sys::kVtR4, 0), u""},
      {u"Double", Scalar(sys::kVtR8, 0), u""},
      {u"Date", Scalar(sys::kVtDate, 0), u""},
  };
  std::vector<sim::FakeWmi::Property> properties;
  for (const auto& c : cases) {
    properties.push_back({c.name, c.value});
  }
  Wmi.Objects = {ObjectWith(properties)};
  Wmi.ThreadLocale = 0x0407;

  TVelWMI wmi;
  const std::vector<WmiRow>& rows = wmi.Query(u"root\\cimv2", u"SELECT * FROM Test");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].size(), std::size(cases));
  for (const auto& c : cases) {
    const std::u16string name = c.name;
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    ASSERT_EQ(rows[0].count(name), 1u);
    EXPECT_EQ(rows[0].at(name), c.text);
  }
  // Text and the three integer types go through the conversion, with the
  // thread's locale and no flags.
  EXPECT_EQ(CallsStartingWith("VariantChangeTypeEx 1031 0 8"), 5u);
  EXPECT_EQ(CallsStartingWith("VariantChangeTypeEx"), 5u);
}

TEST_F(VelwmiTest, QueryFollowsTheCallSequenceAndReleasesInOrder) {
  Wmi.Objects = {Adapter(u"PCI\\VEN_8086&DEV_15B8"), Adapter(u"USB\\VID_0B95&PID_1790")};
  TVelWMI wmi;
  const std::vector<WmiRow>& rows = wmi.Query(u"root\\cimv2", u"SELECT PNPDeviceID FROM Win32_NetworkAdapter");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at(u"PNPDeviceID"), u"PCI\\VEN_8086&DEV_15B8");
  EXPECT_EQ(rows[1].at(u"PNPDeviceID"), u"USB\\VID_0B95&PID_1790");

  const std::vector<std::string> expected = {
      "CoInitializeEx 2",
      "CoInitializeSecurity -1 0 3 0",
      "CreateWbemLocator 5",
      "ConnectServer root\\cimv2 0",
      "ExecQuery WQL SELECT PNPDeviceID FROM Win32_NetworkAdapter 16",
      "Reset",
      "Next -1",
      "GetNames 112",
      "Get PNPDeviceID 0",
      "VariantChangeTypeEx 1033 0 8",
      "release object",
      "Next -1",
      "GetNames 112",
      "Get PNPDeviceID 0",
      "VariantChangeTypeEx 1033 0 8",
      "release object",
      "Next -1",
      "release enumerator",
      "release services",
      "release locator",
      "CoUninitialize",
  };
  EXPECT_EQ(Wmi.Calls, expected);
  EXPECT_EQ(Wmi.LiveObjects, 0);
}

TEST_F(VelwmiTest, FailuresEndTheQueryAndUndoWhatWasDone) {
  struct Case {
    const char* name;
    void (*setUp)(sim::FakeWmi&);
    std::vector<std::u16string> ids;  // the PNPDeviceID of each row
    bool uninitialises;
  };
  const Case cases[] = {
      {"apartment already initialised",
       [](sim::FakeWmi& w) {
         w.Com->Apartments = 1;
         w.Com->ApartmentKind = sys::kCoInitApartmentThreaded;
       },
       {u"A", u"B", u"C"},
       true},
      {"thread in a multithreaded apartment",
       [](sim::FakeWmi& w) {
         w.Com->Apartments = 1;
         w.Com->ApartmentKind = sys::kCoInitMultithreaded;
       },
       {u"A", u"B", u"C"},
       false},
      {"COM cannot be initialised",
       [](sim::FakeWmi& w) { w.Com->Answers["CoInitializeEx"] = sys::kEOutOfMemory; },
       {},
       false},
      {"security set before", [](sim::FakeWmi& w) { w.Com->SecuritySet = true; }, {u"A", u"B", u"C"}, true},
      {"security refused",
       [](sim::FakeWmi& w) { w.Com->Answers["CoInitializeSecurity"] = sys::kEAccessDenied; },
       {},
       true},
      {"no locator", [](sim::FakeWmi& w) { w.LocatorResult = sys::kEFail; }, {}, true},
      {"WMI service stopped", [](sim::FakeWmi& w) { w.ConnectResult = sys::kWbemEInvalidNamespace; }, {}, true},
      {"query refused", [](sim::FakeWmi& w) { w.ExecQueryResult = sys::kWbemEFailed; }, {}, true},
      {"reset fails", [](sim::FakeWmi& w) { w.ResetResult = sys::kEFail; }, {}, true},
      {"second Next fails", [](sim::FakeWmi& w) { w.FailNextAt = 1; }, {u"A"}, true},
      {"names of the second object fail",
       [](sim::FakeWmi& w) { w.Objects[1].GetNamesResult = sys::kEFail; },
       {u"A"},
       true},
      {"first object has no properties", [](sim::FakeWmi& w) { w.Objects[0].Properties.clear(); }, {u"B", u"C"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wmi.Calls.clear();
    Com.Restart();
    Wmi = sim::FakeWmi(Com);
    Wmi.Objects = {Adapter(u"A"), Adapter(u"B"), Adapter(u"C")};
    c.setUp(Wmi);

    TVelWMI wmi;
    const std::vector<WmiRow>& rows = wmi.Query(u"root\\cimv2", u"SELECT PNPDeviceID FROM Win32_NetworkAdapter");
    std::vector<std::u16string> ids;
    for (const WmiRow& row : rows) {
      ids.push_back(row.at(u"PNPDeviceID"));
    }
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(CallsStartingWith("CoUninitialize"), c.uninitialises ? 1u : 0u);
    if (c.uninitialises) {
      EXPECT_EQ(Wmi.Calls.back(), "CoUninitialize");  // after every release
    }
    EXPECT_EQ(Wmi.LiveObjects, 0);
  }
}

TEST_F(VelwmiTest, FailedGetRendersEmptyAndEndsTheEnumerationOnlyWhenItIsTheLast) {
  sim::FakeWmi::Object first = ObjectWith({{u"Caption", Text(u"one")}, {u"Name", Text(u"n1")}});
  sim::FakeWmi::Object second = ObjectWith({{u"Caption", Text(u"two")}, {u"Name", Text(u"n2")}});
  first.Properties[0].GetResult = sys::kWbemEFailed;   // not the last property: the walk goes on
  second.Properties[1].GetResult = sys::kWbemEFailed;  // the last property: the walk ends here
  Wmi.Objects = {first, second, ObjectWith({{u"Caption", Text(u"three")}})};

  TVelWMI wmi;
  const std::vector<WmiRow>& rows = wmi.Query(u"root\\cimv2", u"SELECT * FROM Test");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (WmiRow{{u"Caption", u""}, {u"Name", u"n1"}}));
  EXPECT_EQ(rows[1], (WmiRow{{u"Caption", u"two"}, {u"Name", u""}}));
  EXPECT_EQ(Wmi.LiveObjects, 0);
}

TEST_F(VelwmiTest, EachQueryStartsWithNoRows) {
  Wmi.Objects = {Adapter(u"A")};
  TVelWMI wmi;
  EXPECT_EQ(wmi.Query(u"root\\cimv2", u"SELECT * FROM Test").size(), 1u);
  Wmi.ConnectResult = sys::kWbemEInvalidNamespace;
  EXPECT_TRUE(wmi.Query(u"root\\missing", u"SELECT * FROM Test").empty());
  EXPECT_TRUE(wmi.Rows.empty());
}

TEST_F(VelwmiTest, NetworkIsConnectedWhenAConnectedAdapterSitsOnThePciBusOrOnUsb) {
  const struct {
    const char* name;
    std::vector<sim::FakeWmi::Object> adapters;
    bool connected;
  } cases[] = {
      {"PCI Express Ethernet", {Adapter(u"PCI\\VEN_8086&DEV_15B8&SUBSYS_86721043&REV_31\\3&11583659&0&FE")}, true},
      // A desktop whose only connection is a USB network adapter is connected.
      {"only USB", {Adapter(u"USB\\VID_0B95&PID_1790\\000000000002C9")}, true},
      {"usb in lower case", {Adapter(u"usb\\vid_0b95&pid_1790\\000000000002c9")}, true},
      {"only software adapters", {Adapter(u"ROOT\\NET\\0000"), Adapter(u"ROOT\\*ISATAP\\0001")}, false},
      {"software adapters naming USB", {Adapter(u"ROOT\\USBNET\\0000"), Adapter(u"SWD\\MSRRAS\\USB\\0")}, false},
      {"software device", {Adapter(u"SWD\\IP_TUNNEL_VBUS\\TEREDO_TUNNEL_DEVICE")}, false},
      {"USB without its separator", {Adapter(u"USBNET\\0000")}, false},
      {"pci in lower case", {Adapter(u"USB\\VID_1234&PID_5678\\pci0001")}, true},
      {"PCI after USB", {Adapter(u"USB\\VID_0B95&PID_1790"), Adapter(u"PCI\\VEN_10EC&DEV_8168")}, true},
      {"no connected adapter", {}, false},
      {"adapter without identifier", {ObjectWith({{u"PNPDeviceID", Scalar(sys::kVtNull, 0)}})}, false},
      {"identifier under another name", {ObjectWith({{u"DeviceID", Text(u"PCI\\VEN_8086")}})}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Com.Restart();
    Wmi = sim::FakeWmi(Com);
    Wmi.Objects = c.adapters;
    EXPECT_EQ(IsNetworkConnected(), c.connected);
    EXPECT_EQ(CallsStartingWith("ConnectServer root\\cimv2 0"), 1u);
    EXPECT_EQ(CallsStartingWith("ExecQuery WQL SELECT PNPDeviceID FROM Win32_NetworkAdapter where "
                                "NetConnectionStatus=\"2\" 16"),
              1u);
    EXPECT_EQ(Wmi.LiveObjects, 0);
  }
}

TEST_F(VelwmiTest, NoNetworkWhenWmiFails) {
  Wmi.Objects = {Adapter(u"PCI\\VEN_8086&DEV_15B8")};
  Wmi.ConnectResult = sys::kWbemEInvalidNamespace;
  EXPECT_FALSE(IsNetworkConnected());
  Com.Restart();
  Wmi = sim::FakeWmi(Com);
  Wmi.Objects = {Adapter(u"PCI\\VEN_8086&DEV_15B8")};
  Com.Answers["CoInitializeSecurity"] = sys::kEAccessDenied;
  EXPECT_FALSE(IsNetworkConnected());
}

}  // namespace
}  // namespace kestrune
