// TVelWMI against Wine's WMI service: real queries of Win32_NetworkAdapter.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/Velwmi.h"
#include "sys/Seam.h"
#include "sys/win32/Win32Com.h"
#include "sys/win32/Win32Wmi.h"

namespace kestrune {
namespace {

constexpr const char16_t* kAllAdapters = u"SELECT * FROM Win32_NetworkAdapter";
constexpr const char16_t* kConnectedAdapters =
    u"SELECT PNPDeviceID FROM Win32_NetworkAdapter where NetConnectionStatus=\"2\"";

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

std::u16string Value(const WmiRow& row, const std::u16string& name) {
  const auto it = row.find(name);
  return it == row.end() ? u"<missing>" : it->second;
}

class VelwmiWineTest : public ::testing::Test {
 protected:
  sys::win32::Win32Com Com;
  sys::win32::Win32Wmi Wmi;

 private:
  sys::ScopedSeam<sys::ICom> ComSeam{Com};
  sys::ScopedSeam<sys::IWmi> WmiSeam{Wmi};
};

TEST_F(VelwmiWineTest, AdapterRowsCarryTheirPropertiesAsText) {
  TVelWMI wmi;
  const std::vector<WmiRow>& rows = wmi.Query(u"root\\cimv2", kAllAdapters);
  ASSERT_FALSE(rows.empty());
  for (const WmiRow& row : rows) {
    SCOPED_TRACE(Narrow(Value(row, u"Name")));
    EXPECT_EQ(Value(row, u"__CLASS"), u"Win32_NetworkAdapter");  // VT_BSTR
    EXPECT_EQ(Value(row, u"__GENUS"), u"2");                     // VT_I4
    EXPECT_EQ(Value(row, u"__DERIVATION"), u"");                 // an array of strings
    const std::u16string deviceId = Value(row, u"DeviceId");
    EXPECT_EQ(Value(row, u"__RELPATH"), u"Win32_NetworkAdapter.DeviceId=\"" + deviceId + u"\"");
    const std::u16string path = Value(row, u"__PATH");
    EXPECT_TRUE(path.ends_with(Value(row, u"__RELPATH"))) << Narrow(path);
    const std::u16string physical = Value(row, u"PhysicalAdapter");  // VT_BOOL
    EXPECT_TRUE(physical == u"TRUE" || physical == u"FALSE") << Narrow(physical);
    // The count of the class's own properties, rendered in decimal.
    std::size_t own = 0;
    for (const auto& entry : row) {
      own += entry.first.starts_with(u"__") ? 0 : 1;
    }
    EXPECT_EQ(Narrow(Value(row, u"__PROPERTY_COUNT")), std::to_string(own));
  }
}

TEST_F(VelwmiWineTest, ConnectedAdaptersAreTheRowsWithStatusTwo) {
  TVelWMI wmi;
  std::size_t connected = 0;
  bool hardwareConnected = false;
  for (const WmiRow& row : wmi.Query(u"root\\cimv2", kAllAdapters)) {
    if (Value(row, u"NetConnectionStatus") == u"2") {
      ++connected;
      const std::u16string id = Value(row, u"PNPDeviceID");
      hardwareConnected = hardwareConnected || id.find(u"PCI") != std::u16string::npos || id.starts_with(u"USB\\");
    }
  }
  const std::vector<WmiRow>& rows = wmi.Query(u"root\\cimv2", kConnectedAdapters);
  EXPECT_EQ(rows.size(), connected);
  for (const WmiRow& row : rows) {
    EXPECT_NE(Value(row, u"PNPDeviceID"), u"<missing>");
    EXPECT_EQ(Value(row, u"__PATH"), u"NULL");  // a projected row has no path: VT_NULL
  }
  EXPECT_EQ(IsNetworkConnected(), hardwareConnected);
}

TEST_F(VelwmiWineTest, FailedQueriesGiveNoRows) {
  TVelWMI wmi;
  EXPECT_TRUE(wmi.Query(u"root\\nosuchnamespace", kAllAdapters).empty());
  EXPECT_TRUE(wmi.Query(u"root\\cimv2", u"SELECT FROM WHERE").empty());
  EXPECT_TRUE(wmi.Query(u"root\\cimv2", u"SELECT * FROM NoSuchClass_Kestrune").empty());
  // COM was left as it was found: the next query works.
  EXPECT_FALSE(wmi.Query(u"root\\cimv2", kAllAdapters).empty());
}

TEST_F(VelwmiWineTest, QueryRunsInAMultithreadedApartmentItFinds) {
  std::size_t singleThreaded = TVelWMI().Query(u"root\\cimv2", kAllAdapters).size();
  std::size_t multithreaded = 0;
  sys::HResult again = sys::kEFail;
  std::thread worker([&] {
    if (!sys::Succeeded(Com.CoInitializeEx(sys::kCoInitMultithreaded))) {
      return;
    }
    multithreaded = TVelWMI().Query(u"root\\cimv2", kAllAdapters).size();
    // The query left the thread's apartment alone: it is still multithreaded.
    again = Com.CoInitializeEx(sys::kCoInitMultithreaded);
    if (sys::Succeeded(again)) {
      Com.CoUninitialize();
    }
    Com.CoUninitialize();
  });
  worker.join();
  EXPECT_EQ(multithreaded, singleThreaded);
  EXPECT_EQ(again, sys::kSFalse);
}

}  // namespace
}  // namespace kestrune
