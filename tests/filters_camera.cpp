#include "filters/camera.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "filters/camera_devices.h"
#include "filters/filter_classes.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"

namespace {

// The camera of the stored layout.
constexpr char16_t kStoredCamera[] =
    u"@device:pnp:\\\\?\\usb#vid_046d&pid_0870#5&35bc3a4b&0&1#"
    u"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

CaptureDevice Device(std::string path, std::uint16_t vendor, std::uint16_t product,
                     bool captures = true) {
  CaptureDevice device;
  device.path = std::move(path);
  device.name = "Camera at " + device.path;
  device.vendor_id = vendor;
  device.product_id = product;
  device.captures_video = captures;
  device.instance = "1-2";
  return device;
}

// A UVC camera shows up as a capture node and a metadata node of the same ids.
const std::vector<CaptureDevice> kAttached = {
    Device("/dev/video0", 0x1BCF, 0x2B8A),
    Device("/dev/video1", 0x1BCF, 0x2B8A, false),
    Device("/dev/video2", 0x046D, 0x0870, false),
    Device("/dev/video3", 0x046D, 0x0870),
    Device("/dev/video4", 0x046D, 0x0870),
};

struct MatchCase {
  const char* what;
  std::u16string display_name;
  const char* expected_path;  // null: no match
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.what; }

class CameraMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(CameraMatchTest, MatchesByUsbIdsOnCaptureNodesOnly) {
  const MatchCase& c = GetParam();
  const auto match = MatchCaptureDevice(c.display_name, kAttached);
  if (c.expected_path) {
    ASSERT_TRUE(match.has_value()) << c.what;
    EXPECT_EQ(match->path, c.expected_path) << c.what;
  } else {
    EXPECT_FALSE(match.has_value()) << c.what << ": matched " << match->path;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, CameraMatchTest,
    ::testing::Values(
        // video2 has the ids but only carries metadata; video3 is the first capture node.
        MatchCase{"stored camera", kStoredCamera, "/dev/video3"},
        MatchCase{"upper-case ids and bus",
                  u"@DEVICE:PNP:\\\\?\\USB#VID_046D&PID_0870#5&35BC3A4B&0&1#"
                  u"{65E8773D-8F56-11D0-A3B9-00A0C9223196}\\GLOBAL",
                  "/dev/video3"},
        MatchCase{"interface of a composite device",
                  u"@device:pnp:\\\\?\\usb#vid_1bcf&pid_2b8a&mi_00#6&1a2b3c&0&0000#"
                  u"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                  "/dev/video0"},
        MatchCase{"another product of the vendor",
                  u"@device:pnp:\\\\?\\usb#vid_046d&pid_0825#5&1&0&1#{x}\\global", nullptr},
        MatchCase{"ids of a node that only carries metadata",
                  u"@device:pnp:\\\\?\\usb#vid_1bcf&pid_2b8b#1#{x}\\global", nullptr},
        MatchCase{"three-digit vendor id", u"@device:pnp:\\\\?\\usb#vid_46d&pid_0870#1", nullptr},
        MatchCase{"five-digit product id", u"@device:pnp:\\\\?\\usb#vid_046d&pid_08700#1",
                  nullptr},
        MatchCase{"not hexadecimal", u"@device:pnp:\\\\?\\usb#vid_04g6&pid_0870#1", nullptr},
        MatchCase{"ids in the wrong order", u"@device:pnp:\\\\?\\usb#pid_0870&vid_046d#1",
                  nullptr},
        MatchCase{"not a USB device", u"@device:pnp:\\\\?\\pci#ven_8086&dev_1234#1", nullptr},
        MatchCase{"no device path", u"@device:pnp:", nullptr},
        MatchCase{"another moniker form", u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}",
                  nullptr},
        MatchCase{"empty", u"", nullptr}),
    [](const ::testing::TestParamInfo<MatchCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(CameraDisplayName, ParsesTheStoredCameraIds) {
  EXPECT_EQ(ParseUsbDisplayName(kStoredCamera), (UsbIds{0x046D, 0x0870}));
}

TEST(CameraDisplayName, MadeForADeviceMatchesThatDevice) {
  const CaptureDevice device = Device("/dev/video7", 0xABCD, 0x00EF);
  const std::u16string name = DisplayNameOf(device);
  EXPECT_EQ(Utf16ToUtf8(name),
            "@device:pnp:\\\\?\\usb#vid_abcd&pid_00ef#1-2#"
            "{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
  EXPECT_EQ(MatchCaptureDevice(name, {device}), device);
}

// Binding goes through the same record and moniker as a filter slot's.
HRESULT BindStored(std::u16string_view display_name, ComPtr<IBaseFilter>* filter) {
  const auto record = MakeSelectionRecord(display_name);
  const auto stream = CreateMemoryStream(std::span(record).subspan(4));
  ComPtr<IMoniker> moniker;
  const HRESULT loaded =
      OleLoadFromStream(stream.Get(), IMoniker::iid, moniker.ReleaseAndGetVoidAddress());
  if (FAILED(loaded)) return loaded;
  return moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid,
                               filter->ReleaseAndGetVoidAddress());
}

class CameraResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    SetCaptureDeviceListerForTesting([this] {
      ++listings_;
      return devices_;
    });
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override {
    SetCaptureDeviceListerForTesting(nullptr);
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  std::vector<CaptureDevice> devices_;
  int listings_ = 0;
  long live_at_start_ = 0;
};

TEST_F(CameraResolverTest, StoredCameraAttached_BindsToACameraOnThatDevice) {
  devices_ = kAttached;
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(BindStored(kStoredCamera, &filter), S_OK);

  CLSID clsid{};
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_V4l2Camera);
  GstElement* bin = ElementOfFilter(filter.Get());
  ASSERT_NE(bin, nullptr);
  GstElement* source = nullptr;
  GstIterator* it = gst_bin_iterate_sources(GST_BIN(bin));
  GValue item = G_VALUE_INIT;
  if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    source = GST_ELEMENT(g_value_get_object(&item));
  }
  ASSERT_NE(source, nullptr);
  GCharOwner device;
  g_object_get(source, "device", &device.text, nullptr);
  EXPECT_STREQ(device.c_str(), "/dev/video3");
  g_value_unset(&item);
  gst_iterator_free(it);

  const auto pins = PinsOf(filter.Get());
  ASSERT_EQ(pins.size(), 1u);
  PIN_INFO info{};
  ASSERT_EQ(pins[0]->QueryPinInfo(&info), S_OK);
  ComPtr<IBaseFilter>::Adopt(info.pFilter);
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_EQ(std::u16string(info.achName), u"out");

  // Raw video only, 640x480 at 30 frames a second first, anything raw after it.
  char* formats = nullptr;
  ASSERT_EQ(pins[0]->QueryFormats(&formats), S_OK);
  const std::string text = formats;
  CoTaskMemFree(formats);
  EXPECT_EQ(text.rfind("video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)30/1", 0),
            0u)
      << text;
  EXPECT_NE(text.find("\nvideo/x-raw, format="), std::string::npos) << text;
  EXPECT_EQ(text.find("image/"), std::string::npos) << text;
}

TEST_F(CameraResolverTest, StoredCameraNotAttached_NoObjectAndNoFilter) {
  devices_ = {Device("/dev/video0", 0x1BCF, 0x2B8A), Device("/dev/video1", 0x046D, 0x0870, false)};
  const long live_before = ComLiveObjectCount();
  IBaseFilter* raw = reinterpret_cast<IBaseFilter*>(0x1);
  EXPECT_EQ(ResolveCameraDisplayName(kStoredCamera, IBaseFilter::iid, reinterpret_cast<void**>(&raw)),
            MK_E_NOOBJECT);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(ComLiveObjectCount(), live_before);

  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(BindStored(kStoredCamera, &filter), MK_E_NOOBJECT);
  EXPECT_FALSE(filter);
  EXPECT_EQ(listings_, 2);
}

TEST_F(CameraResolverTest, MalformedName_FailsWithoutLookingForDevices) {
  devices_ = kAttached;
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(BindStored(u"@device:pnp:\\\\?\\usb#vid_046d#pid_0870", &filter), MK_E_SYNTAX);
  EXPECT_FALSE(filter);
  EXPECT_EQ(listings_, 0);
}

}  // namespace
