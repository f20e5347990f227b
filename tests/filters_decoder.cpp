#include "filters/mpeg4_decoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/filter_classes.h"
#include "filters/mpeg4_encoder.h"
#include "pin_formats.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/gst_filter.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr char kStreamCaps[] = "video/mpeg,mpegversion=4,systemstream=false";

// A small pipeline around one filter's element: appsrc ! element ! appsink.
class Around {
 public:
  Around(IBaseFilter* filter, const std::string& input_caps) {
    pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstElement* element = ElementOfFilter(filter);
    gst_bin_add_many(GST_BIN(pipeline_.get()), src, element, sink, nullptr);
    linked_ = gst_element_link_many(src, element, sink, nullptr);
    src_ = GstElementRef::Share(src);
    sink_ = GstElementRef::Share(sink);
    GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(input_caps.c_str()));
    g_object_set(src, "caps", caps.get(), "format", GST_FORMAT_TIME, "block", TRUE, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  }
  ~Around() { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }

  bool Linked() const { return linked_; }
  void Push(GstBuffer* buffer) { gst_app_src_push_buffer(GST_APP_SRC(src_.get()), buffer); }
  std::vector<GstSampleRef> PullAll() {
    gst_app_src_end_of_stream(GST_APP_SRC(src_.get()));
    std::vector<GstSampleRef> samples;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()),
                                                            10 * GST_SECOND)) {
      samples.push_back(GstSampleRef::Adopt(sample));
    }
    return samples;
  }

 private:
  GstElementRef pipeline_;
  GstElementRef src_;
  GstElementRef sink_;
  bool linked_ = false;
};

GstBuffer* Picture(int index) {
  const std::size_t luma = kWidth * kHeight;
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, luma * 3 / 2, nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      map.data[y * kWidth + x] = static_cast<std::uint8_t>((x + y + 5 * index) & 0xFF);
  std::fill(map.data + luma, map.data + luma * 3 / 2, 128);
  gst_buffer_unmap(buffer, &map);
  GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(index, GST_SECOND, 30);
  GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, 30);
  return buffer;
}

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGStreamer();
    live_at_start_ = ComLiveObjectCount();
    ASSERT_EQ(CreateMpeg4Decoder(IBaseFilter::iid, decoder_.ReleaseAndGetVoidAddress()), S_OK);
  }
  void TearDown() override {
    decoder_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
  }

  // `count` frames of a moving picture, encoded by the real encoder.
  std::vector<GstSampleRef> Encode(int count) {
    ComPtr<IBaseFilter> encoder;
    EXPECT_EQ(CreateMpeg4Encoder(IBaseFilter::iid, encoder.ReleaseAndGetVoidAddress()), S_OK);
    Around around(encoder.Get(), "video/x-raw,format=I420,width=" + std::to_string(kWidth) +
                                     ",height=" + std::to_string(kHeight) + ",framerate=30/1");
    EXPECT_TRUE(around.Linked());
    for (int i = 0; i < count; ++i) around.Push(Picture(i));
    return around.PullAll();
  }

  // Decodes `frames` and answers the presentation times of the pictures that come out.
  std::vector<GstClockTime> Decode(const std::vector<GstBuffer*>& frames) {
    Around around(decoder_.Get(), kStreamCaps);
    EXPECT_TRUE(around.Linked());
    for (GstBuffer* frame : frames) around.Push(gst_buffer_ref(frame));
    std::vector<GstClockTime> times;
    for (const GstSampleRef& sample : around.PullAll()) {
      GstVideoInfo info;
      EXPECT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())));
      EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), kWidth);
      EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), kHeight);
      times.push_back(GST_BUFFER_PTS(gst_sample_get_buffer(sample.get())));
    }
    return times;
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> decoder_;
};

std::vector<GstBuffer*> BuffersOf(const std::vector<GstSampleRef>& samples, std::size_t from = 0) {
  std::vector<GstBuffer*> buffers;
  for (std::size_t i = from; i < samples.size(); ++i)
    buffers.push_back(gst_sample_get_buffer(samples[i].get()));
  return buffers;
}

std::vector<GstClockTime> FrameTimes(int from, int to) {
  std::vector<GstClockTime> times;
  for (int i = from; i < to; ++i) times.push_back(gst_util_uint64_scale(i, GST_SECOND, 30));
  return times;
}

TEST_F(DecoderTest, StreamFromTheStart_EveryFrameIsShownInOrder) {
  const auto encoded = Encode(40);
  ASSERT_EQ(encoded.size(), 40u);
  EXPECT_EQ(Decode(BuffersOf(encoded)), FrameTimes(0, 40));
}

TEST_F(DecoderTest, JoinedMidStream_NothingUntilTheNextKeyframe) {
  const auto encoded = Encode(70);
  ASSERT_EQ(encoded.size(), 70u);
  // Frames 5..29 lack the configuration and their reference: none may come out
  // as a grey or torn picture; frame 30 is the next keyframe.
  ASSERT_FALSE(GST_BUFFER_FLAG_IS_SET(gst_sample_get_buffer(encoded[30].get()),
                                      GST_BUFFER_FLAG_DELTA_UNIT));
  EXPECT_EQ(Decode(BuffersOf(encoded, 5)), FrameTimes(30, 70));
}

TEST_F(DecoderTest, Pins_TakeMpeg4VideoAndGiveRawVideo) {
  const auto pins = PinsOf(decoder_.Get());
  ASSERT_EQ(pins.size(), 2u);
  std::vector<std::string> seen;
  ASSERT_NO_FATAL_FAILURE(DescribePins(pins, &seen));
  EXPECT_EQ(seen[0], "in in: video/mpeg, mpegversion=(int)4, systemstream=(boolean)false");
  EXPECT_EQ(seen[1].rfind("out out: video/x-raw", 0), 0u) << seen[1];
}

TEST_F(DecoderTest, StoredSelection_BindsToTheDecoderClass) {
  CoInitialize(nullptr);
  RegisterPresenterLinkClasses();
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(BindDisplayName(u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\"
                              u"{64697678-0000-0010-8000-00AA00389B71}",
                              IBaseFilter::iid, filter.ReleaseAndGetVoidAddress()),
              S_OK);
    CLSID clsid{};
    filter->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_Mpeg4Decoder);
  }
  bool listed = false;
  for (const ClassInfo& info : RegisteredClasses()) {
    if (info.clsid == CLSID_Mpeg4Decoder) {
      listed = true;
      EXPECT_EQ(info.friendly_name, kMpeg4DecoderFriendlyName);
    }
  }
  EXPECT_TRUE(listed);
  CoUninitialize();
}

}  // namespace
