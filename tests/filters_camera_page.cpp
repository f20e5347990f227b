#include "filters/camera_page.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include <string>
#include <vector>

#include "filters/camera.h"
#include "filters/filter_classes.h"
#include "filters/property_pages.h"
#include "property_page_testing.h"

// The camera's page. No camera is attached to the machines these tests run on:
// the page is shown over the real camera filter on a device that is not there,
// and over a fake device description that offers formats and controls; what the
// filter makes of a device's caps is shown on caps as v4l2src reports them.

namespace {

// A camera as ICameraControls describes it, recording what it is told.
class FakeCamera : public ComObject<ICameraControls> {
 public:
  CaptureDevice device;
  std::vector<CameraFormat> formats;
  std::vector<CameraControl> controls;
  CameraFormat format;
  std::string calls;

  HRESULT GetDevice(CaptureDevice* out) override {
    *out = device;
    return S_OK;
  }
  HRESULT GetFormats(std::vector<CameraFormat>* out) override {
    *out = formats;
    return S_OK;
  }
  HRESULT GetFormat(CameraFormat* out) override {
    *out = format;
    return format.pixel_format.empty() ? S_FALSE : S_OK;
  }
  HRESULT SetFormat(const CameraFormat& f) override {
    Note("SetFormat(" + (f.pixel_format.empty() ? std::string("auto")
                                                : f.pixel_format + " " + std::to_string(f.width) + "x" +
                                                      std::to_string(f.height) + " " +
                                                      std::to_string(f.rate_numerator) + "/" +
                                                      std::to_string(f.rate_denominator)) +
         ")");
    format = f;
    return S_OK;
  }
  HRESULT GetControls(std::vector<CameraControl>* out) override {
    *out = controls;
    return S_OK;
  }
  HRESULT SetControl(const std::string& name, std::int32_t value) override {
    Note("SetControl(" + name + ", " + std::to_string(value) + ")");
    for (CameraControl& c : controls) {
      if (c.name == name) c.value = value;
    }
    return S_OK;
  }

 private:
  void Note(const std::string& call) { calls += (calls.empty() ? "" : " ") + call; }
};

std::vector<std::string> Items(QComboBox* box) {
  std::vector<std::string> items;
  for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
  return items;
}

class CameraPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override {
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }
  long live_at_start_ = 0;
};

TEST_F(CameraPageTest, OnADeviceThatIsNotThere_ShowsTheDeviceAndSaysTheRestIsUnknown) {
  CaptureDevice device;
  device.path = "/dev/presenter-link-no-such-video";
  device.name = "HD Pro Webcam C920";
  device.vendor_id = 0x046D;
  device.product_id = 0x0870;
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(CreateV4l2Camera(device, IBaseFilter::iid, camera.ReleaseAndGetVoidAddress()), S_OK);

  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(camera.As(&specify), S_OK);
  CAUUID pages{};
  ASSERT_EQ(specify->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  EXPECT_EQ(pages.pElems[0], CLSID_CameraPage);
  CoTaskMemFree(pages.pElems);

  ComPtr<ICameraControls> controls;
  ASSERT_EQ(camera.As(&controls), S_OK);
  std::vector<CameraFormat> formats;
  EXPECT_EQ(controls->GetFormats(&formats), E_FAIL);
  EXPECT_TRUE(formats.empty());

  {
    ActivePage page(CLSID_CameraPage, camera.Get());
    EXPECT_EQ(TitleOf(page.operator->()), u"Camera");
    EXPECT_EQ(page.Find<QLabel>("deviceName")->text(), QStringLiteral("HD Pro Webcam C920"));
    EXPECT_EQ(page.Find<QLabel>("devicePath")->text(), QStringLiteral("/dev/presenter-link-no-such-video"));
    EXPECT_EQ(page.Find<QLabel>("usbIds")->text(), QStringLiteral("046d:0870"));
    EXPECT_TRUE(page.Find<QLabel>("formatsNote")->text().contains(QStringLiteral("cannot be opened")));
    EXPECT_EQ(Items(page.Find<QComboBox>("pixelFormat")).size(), 1u) << "automatic only";
    EXPECT_TRUE(page.Find<QLabel>("controlsNote")->text().contains(QStringLiteral("cannot be opened")));
    EXPECT_EQ(page->Apply(), S_OK) << "nothing edited, nothing to hand over";
  }

  // The format asked for goes to the caps the camera delivers.
  const CameraFormat yuy2{"YUY2", 320, 240, 15, 1};
  ASSERT_EQ(controls->SetFormat(yuy2), S_OK);
  CameraFormat now;
  EXPECT_EQ(controls->GetFormat(&now), S_OK);
  EXPECT_EQ(now, yuy2);
  EXPECT_EQ(controls->SetFormat(CameraFormat{"YUY2", 0, 240, 15, 1}), E_INVALIDARG);
  EXPECT_EQ(controls->SetFormat(CameraFormat{}), S_OK);
  EXPECT_EQ(controls->GetFormat(&now), S_FALSE);
  EXPECT_EQ(controls->SetControl("Brightness", 1), E_FAIL);
}

TEST_F(CameraPageTest, OverAFakeDevice_OffersItsFormatsInStepsAndHandsOverWhatChanged) {
  auto fake = MakeComObject<FakeCamera>();
  fake->device = {"/dev/video0", "Fake Cam", 0x1234, 0xABCD, true, "1-2"};
  fake->formats = {{"YUY2", 640, 480, 30, 1}, {"YUY2", 640, 480, 15, 1}, {"YUY2", 320, 240, 30, 1},
                   {"NV12", 1280, 720, 10, 1}, {"NV12", 640, 480, 30, 1}};
  fake->controls = {{"Brightness", -64, 64, 0}, {"Contrast", 0, 95, 32}};
  fake->format = {"YUY2", 320, 240, 30, 1};

  ActivePage page(CLSID_CameraPage, static_cast<ICameraControls*>(fake.Get()));
  auto* pixel_format = page.Find<QComboBox>("pixelFormat");
  auto* size = page.Find<QComboBox>("size");
  auto* rate = page.Find<QComboBox>("frameRate");
  ASSERT_EQ(Items(pixel_format).size(), 3u);
  EXPECT_EQ(Items(pixel_format)[1], "YUY2");
  EXPECT_EQ(Items(pixel_format)[2], "NV12");
  // The format asked for is shown.
  EXPECT_EQ(pixel_format->currentText(), QStringLiteral("YUY2"));
  EXPECT_EQ(Items(size), (std::vector<std::string>{"640 × 480", "320 × 240"}));
  EXPECT_EQ(size->currentText(), QStringLiteral("320 × 240"));
  EXPECT_EQ(Items(rate), std::vector<std::string>{"30 a second"});
  EXPECT_EQ(page.Find<QSpinBox>("control:Brightness")->value(), 0);
  EXPECT_EQ(page.Find<QSpinBox>("control:Contrast")->value(), 32);
  EXPECT_EQ(page.Find<QSpinBox>("control:Contrast")->maximum(), 95);
  EXPECT_FALSE(page.Dirty());

  // Sizes follow the pixel format, rates the size.
  size->setCurrentIndex(0);
  EXPECT_EQ(Items(rate), (std::vector<std::string>{"30 a second", "15 a second"}));
  pixel_format->setCurrentIndex(2);
  EXPECT_EQ(Items(size), (std::vector<std::string>{"1280 × 720", "640 × 480"}));
  EXPECT_EQ(Items(rate), std::vector<std::string>{"10 a second"});
  page.Find<QSpinBox>("control:Brightness")->setValue(10);
  EXPECT_TRUE(page.Dirty());
  EXPECT_EQ(fake->calls, "") << "nothing before Apply";

  ASSERT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(fake->calls, "SetControl(Brightness, 10) SetFormat(NV12 1280x720 10/1)");
  EXPECT_FALSE(page.Dirty());

  // Back to the filter's own choice.
  pixel_format->setCurrentIndex(0);
  EXPECT_FALSE(size->isEnabled());
  ASSERT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(fake->calls, "SetControl(Brightness, 10) SetFormat(NV12 1280x720 10/1) SetFormat(auto)");
}

struct CapsCase {
  const char* name;
  const char* caps;
  std::vector<CameraFormat> formats;
};

class RawFormatsTest : public ::testing::TestWithParam<CapsCase> {};

TEST_P(RawFormatsTest, OneFormatPerPixelFormatSizeAndRate) {
  EnsureGStreamer();
  GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(GetParam().caps));
  ASSERT_TRUE(caps);
  EXPECT_EQ(RawFormatsOf(caps.get()), GetParam().formats);
}

INSTANTIATE_TEST_SUITE_P(
    Caps, RawFormatsTest,
    ::testing::Values(
        CapsCase{"RateList",
                 "video/x-raw, format=YUY2, width=640, height=480, framerate={ 30/1, 15/1 }",
                 {{"YUY2", 640, 480, 30, 1}, {"YUY2", 640, 480, 15, 1}}},
        CapsCase{"SeveralStructuresAndFormats",
                 "video/x-raw, format={ YUY2, NV12 }, width=320, height=240, framerate=30/1; "
                 "video/x-raw, format=YUY2, width=160, height=120, framerate=5/1",
                 {{"YUY2", 320, 240, 30, 1}, {"NV12", 320, 240, 30, 1}, {"YUY2", 160, 120, 5, 1}}},
        CapsCase{"RateRangeGivesItsEnds",
                 "video/x-raw, format=GRAY8, width=752, height=480, framerate=[ 1/1, 60/1 ]",
                 {{"GRAY8", 752, 480, 60, 1}, {"GRAY8", 752, 480, 1, 1}}},
        CapsCase{"CompressedAndSizeRangesLeftOut",
                 "image/jpeg, width=1920, height=1080, framerate=30/1; "
                 "video/x-raw, format=YUY2, width=[ 16, 1920 ], height=[ 16, 1080 ], framerate=30/1; "
                 "video/x-raw, format=YUY2, width=1920, height=1080, framerate=5/1",
                 {{"YUY2", 1920, 1080, 5, 1}}},
        CapsCase{"Repeats", "video/x-raw, format=YUY2, width=8, height=8, framerate={ 5/1, 5/1 }",
                 {{"YUY2", 8, 8, 5, 1}}},
        CapsCase{"Any", "ANY", {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
