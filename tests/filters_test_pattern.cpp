#include "filters/test_pattern_camera.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/gst_filter.h"

namespace {

constexpr char16_t kDisplayName[] =
    u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{B7E3A1C4-6F2D-4E8A-9C51-0D3F7A2E6B94}";

struct Frame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgrx;
  std::optional<std::uint16_t> number;

  // Pixel as B, G, R.
  const std::uint8_t* At(int x, int y) const { return bgrx.data() + 4 * (y * width + x); }
};

class TestPatternCameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
    ASSERT_EQ(BindDisplayName(kDisplayName, IBaseFilter::iid, camera_.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(camera_.As(&settings_), S_OK);
  }
  void TearDown() override {
    Stop();
    settings_ = nullptr;
    camera_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  // camera ! videoconvert ! BGRx ! appsink, playing.
  void Play() {
    pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(filter, "caps", caps.get(), nullptr);
    g_object_set(sink, "sync", FALSE, "max-buffers", 64, nullptr);
    GstElement* camera = ElementOfFilter(camera_.Get());
    gst_bin_add_many(GST_BIN(pipeline_.get()), camera, convert, filter, sink, nullptr);
    ASSERT_TRUE(gst_element_link_many(camera, convert, filter, sink, nullptr));
    sink_ = GstElementRef::Share(sink);
    ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  }

  void Stop() {
    if (!pipeline_) return;
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    // The camera's element goes back to the filter alone.
    gst_bin_remove(GST_BIN(pipeline_.get()), ElementOfFilter(camera_.Get()));
    sink_.Reset();
    pipeline_.Reset();
  }

  std::optional<Frame> Next() {
    GstSampleRef sample = GstSampleRef::Adopt(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()), 10 * GST_SECOND));
    if (!sample) return std::nullopt;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()))) return std::nullopt;
    GstVideoFrame video;
    if (!gst_video_frame_map(&video, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ))
      return std::nullopt;
    Frame frame;
    frame.width = GST_VIDEO_INFO_WIDTH(&info);
    frame.height = GST_VIDEO_INFO_HEIGHT(&info);
    frame.bgrx.resize(static_cast<std::size_t>(frame.width) * frame.height * 4);
    const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0);
    for (int y = 0; y < frame.height; ++y)
      std::copy_n(data + y * stride, frame.width * 4, frame.bgrx.data() + y * frame.width * 4);
    gst_video_frame_unmap(&video);
    frame.number = frame_stamp::ReadRgb32(frame.bgrx.data(), frame.width * 4, frame.width,
                                          frame.height);
    return frame;
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> camera_;
  ComPtr<ITestPatternSettings> settings_;
  GstElementRef pipeline_;
  GstElementRef sink_;
};

TEST_F(TestPatternCameraTest, Default_LiveMovingBarsStampedWithConsecutiveNumbers) {
  TestPatternSettings settings;
  ASSERT_EQ(settings_->GetSettings(&settings), S_OK);
  EXPECT_EQ(settings, TestPatternSettings{});
  EXPECT_EQ(settings.width, 640);
  EXPECT_EQ(settings.format, TestPixelFormat::kI420);

  const auto started = frame_stamp::Clock::now();
  Play();
  std::vector<Frame> frames;
  for (int i = 0; i < 10; ++i) {
    auto frame = Next();
    ASSERT_TRUE(frame.has_value()) << "frame " << i;
    frames.push_back(std::move(*frame));
  }
  const auto pulled = frame_stamp::Clock::now();

  for (std::size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].width, 640);
    ASSERT_EQ(frames[i].height, 480);
    ASSERT_TRUE(frames[i].number.has_value()) << "frame " << i;
    if (i > 0) {
      EXPECT_EQ(static_cast<std::uint16_t>(*frames[i - 1].number + 1), *frames[i].number);
    }
    const auto captured = frame_stamp::CaptureTime(*frames[i].number);
    ASSERT_TRUE(captured.has_value()) << "frame " << i;
    EXPECT_GE(*captured, started);
    EXPECT_LE(*captured, pulled);
  }

  // Below the stamp: the colour bars, with saturated colours, moving sideways.
  const Frame& first = frames.front();
  const Frame& last = frames.back();
  const int y = first.height / 3;
  std::set<int> hues;
  int moved = 0;
  for (int x = 0; x < first.width; x += 8) {
    const std::uint8_t* p = first.At(x, y);
    const int b = p[0] > 128, g = p[1] > 128, r = p[2] > 128;
    hues.insert(b | g << 1 | r << 2);
    const std::uint8_t* q = last.At(x, y);
    moved += std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]) > 60;
  }
  EXPECT_GE(hues.size(), 6u) << "expected the bars' colours below the stamp";
  EXPECT_GT(moved, 4) << "the pattern did not move";
}

TEST_F(TestPatternCameraTest, SettingsAppliedWhenStopped_EveryFormatKeepsItsStamp) {
  struct Case {
    TestPixelFormat format;
    const char* name;
  };
  const Case cases[] = {{TestPixelFormat::kI420, "I420"},
                        {TestPixelFormat::kYUY2, "YUY2"},
                        {TestPixelFormat::kNV12, "NV12"}};
  for (const Case& c : cases) {
    TestPatternSettings settings;
    settings.pattern = TestPattern::kBall;
    settings.width = 320;
    settings.height = 240;
    settings.frame_rate_numerator = 15;
    settings.format = c.format;
    ASSERT_EQ(settings_->SetSettings(settings), S_OK) << c.name;

    const auto pins = PinsOf(camera_.Get());
    ASSERT_EQ(pins.size(), 1u);
    char* formats = nullptr;
    ASSERT_EQ(pins[0]->QueryFormats(&formats), S_OK);
    const std::string text = formats;
    CoTaskMemFree(formats);
    EXPECT_NE(text.find(std::string("format=(string)") + c.name), std::string::npos) << text;
    EXPECT_NE(text.find("width=(int)320, height=(int)240, framerate=(fraction)15/1"),
              std::string::npos)
        << text;

    Play();
    std::optional<std::uint16_t> previous;
    for (int i = 0; i < 3; ++i) {
      const auto frame = Next();
      ASSERT_TRUE(frame.has_value()) << c.name;
      EXPECT_EQ(frame->width, 320);
      ASSERT_TRUE(frame->number.has_value()) << c.name << " frame " << i;
      if (previous) {
        EXPECT_EQ(static_cast<std::uint16_t>(*previous + 1), *frame->number);
      }
      previous = frame->number;
    }
    Stop();
  }
}

TEST_F(TestPatternCameraTest, StampingOff_FramesCarryNoNumber) {
  TestPatternSettings settings;
  settings.stamping = false;
  ASSERT_EQ(settings_->SetSettings(settings), S_OK);
  Play();
  for (int i = 0; i < 3; ++i) {
    const auto frame = Next();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->number, std::nullopt);
  }
}

TEST_F(TestPatternCameraTest, SettingsWhileRunning_RefusedAndUnchanged) {
  Play();
  ASSERT_TRUE(Next().has_value());
  TestPatternSettings settings;
  settings.width = 320;
  settings.height = 240;
  EXPECT_EQ(settings_->SetSettings(settings), VFW_E_NOT_STOPPED);
  TestPatternSettings now;
  ASSERT_EQ(settings_->GetSettings(&now), S_OK);
  EXPECT_EQ(now.width, 640);
  const auto frame = Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->width, 640);
}

TEST_F(TestPatternCameraTest, SettingsOutOfRange_Refused) {
  struct Case {
    const char* what;
    void (*change)(TestPatternSettings&);
  };
  const Case cases[] = {
      {"odd width", [](TestPatternSettings& s) { s.width = 321; }},
      {"too narrow for the stamp", [](TestPatternSettings& s) { s.width = 8; }},
      {"too tall", [](TestPatternSettings& s) { s.height = 8192; }},
      {"no frame rate", [](TestPatternSettings& s) { s.frame_rate_numerator = 0; }},
      {"zero denominator", [](TestPatternSettings& s) { s.frame_rate_denominator = 0; }},
      {"unknown format", [](TestPatternSettings& s) { s.format = static_cast<TestPixelFormat>(9); }},
      {"unknown pattern", [](TestPatternSettings& s) { s.pattern = static_cast<TestPattern>(-1); }},
  };
  for (const Case& c : cases) {
    TestPatternSettings settings;
    c.change(settings);
    EXPECT_EQ(settings_->SetSettings(settings), E_INVALIDARG) << c.what;
  }
  TestPatternSettings now;
  ASSERT_EQ(settings_->GetSettings(&now), S_OK);
  EXPECT_EQ(now, TestPatternSettings{});
}

}  // namespace
