#include "filters/mpeg4_encoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "filters/filter_classes.h"
#include "pin_formats.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/gst_filter.h"

namespace {

struct EncodedFrame {
  GstClockTime pts;
  GstClockTime dts;
  bool keyframe;
  std::vector<std::uint8_t> bytes;
};

// Position of the first start code 00 00 01 `code` in `bytes`, or npos.
std::size_t FindStartCode(const std::vector<std::uint8_t>& bytes, std::uint8_t code) {
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == code) return i;
  }
  return std::string::npos;
}

// A video object layer start code is 00 00 01 20..2F.
bool HasVolHeader(const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && (bytes[i + 3] & 0xF0) == 0x20)
      return true;
  }
  return false;
}

// vop_coding_type: 0 I, 1 P, 2 B, 3 S; -1 without a VOP.
int VopCodingType(const std::vector<std::uint8_t>& bytes) {
  const std::size_t vop = FindStartCode(bytes, 0xB6);
  if (vop == std::string::npos || vop + 4 >= bytes.size()) return -1;
  return bytes[vop + 4] >> 6;
}

class EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGStreamer();
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    src_.Reset();
    sink_.Reset();
    pipeline_.Reset();
    encoder_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
  }

  // appsrc (I420 at the given size and rate) ! encoder ! appsink
  void Build(int width, int height, int rate_numerator, int rate_denominator) {
    ASSERT_EQ(CreateMpeg4Encoder(IBaseFilter::iid, encoder_.ReleaseAndGetVoidAddress()), S_OK);
    pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstElement* encoder = ElementOfFilter(encoder_.Get());
    gst_bin_add_many(GST_BIN(pipeline_.get()), src, encoder, sink, nullptr);
    ASSERT_TRUE(gst_element_link_many(src, encoder, sink, nullptr));
    src_ = GstElementRef::Share(src);
    sink_ = GstElementRef::Share(sink);
    width_ = width;
    height_ = height;
    frame_duration_ = gst_util_uint64_scale(GST_SECOND, rate_denominator, rate_numerator);
    const std::string caps_text = "video/x-raw,format=I420,width=" + std::to_string(width) +
                                  ",height=" + std::to_string(height) + ",framerate=" +
                                  std::to_string(rate_numerator) + "/" +
                                  std::to_string(rate_denominator);
    GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(caps_text.c_str()));
    g_object_set(src, "caps", caps.get(), "format", GST_FORMAT_TIME, "block", TRUE, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  }

  void Push(int index, GstClockTime pts) {
    const std::size_t luma = static_cast<std::size_t>(width_) * height_;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, luma * 3 / 2, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        map.data[y * width_ + x] = static_cast<std::uint8_t>((x * 3 + y + 6 * index) & 0xFF);
    std::fill(map.data + luma, map.data + luma * 3 / 2, 128);
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = frame_duration_;
    ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_.get()), buffer), GST_FLOW_OK);
  }

  std::vector<EncodedFrame> PullAll() {
    gst_app_src_end_of_stream(GST_APP_SRC(src_.get()));
    std::vector<EncodedFrame> frames;
    for (;;) {
      GstSampleRef sample = GstSampleRef::Adopt(
          gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()), 10 * GST_SECOND));
      if (!sample) break;
      GstBuffer* buffer = gst_sample_get_buffer(sample.get());
      EncodedFrame frame{GST_BUFFER_PTS(buffer), GST_BUFFER_DTS(buffer),
                         !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT),
                         std::vector<std::uint8_t>(gst_buffer_get_size(buffer))};
      gst_buffer_extract(buffer, 0, frame.bytes.data(), frame.bytes.size());
      frames.push_back(std::move(frame));
    }
    return frames;
  }

  // The libav encoder inside the filter's bin (borrowed: the bin holds it).
  GstElement* Codec() {
    GstElement* bin = ElementOfFilter(encoder_.Get());
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
      auto* element = GST_ELEMENT(g_value_get_object(&item));
      GstElementFactory* factory = gst_element_get_factory(element);
      if (factory && g_str_equal(gst_plugin_feature_get_name(factory), "avenc_mpeg4"))
        found = element;
      g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> encoder_;
  GstElementRef pipeline_;
  GstElementRef src_;
  GstElementRef sink_;
  int width_ = 0;
  int height_ = 0;
  GstClockTime frame_duration_ = 0;
};

TEST_F(EncoderTest, ThirtyFramesASecond_OutputCarriesEachInputsTimeOneThirtiethApart) {
  Build(640, 480, 30, 1);
  constexpr int kFrames = 45;
  const GstClockTime start = 5 * GST_SECOND;  // a capture time well away from zero
  for (int i = 0; i < kFrames; ++i) Push(i, start + gst_util_uint64_scale(i, GST_SECOND, 30));
  const auto frames = PullAll();

  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    EXPECT_EQ(frames[i].pts, start + gst_util_uint64_scale(i, GST_SECOND, 30)) << "frame " << i;
    EXPECT_EQ(frames[i].dts, frames[i].pts) << "frame " << i;
  }
  for (int i = 1; i < kFrames; ++i) {
    const GstClockTimeDiff step = GST_CLOCK_DIFF(frames[i - 1].pts, frames[i].pts);
    EXPECT_NEAR(static_cast<double>(step), GST_SECOND / 30.0, 1.0) << "frame " << i;
  }
}

TEST_F(EncoderTest, FramesMissingUpstream_EveryOutputKeepsItsOwnTime) {
  Build(320, 240, 30, 1);
  // Frames 3, 4 and 10 never arrive (a camera that skipped them).
  std::vector<GstClockTime> sent;
  for (int i = 0; i < 16; ++i) {
    if (i == 3 || i == 4 || i == 10) continue;
    sent.push_back(gst_util_uint64_scale(i, GST_SECOND, 30));
    Push(i, sent.back());
  }
  const auto frames = PullAll();
  ASSERT_EQ(frames.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(frames[i].pts, sent[i]) << "frame " << i;
}

TEST_F(EncoderTest, Stream_KeyframeEverySecondWithConfigInBandAndNoBFrames) {
  Build(640, 480, 30, 1);
  constexpr int kFrames = 95;
  for (int i = 0; i < kFrames; ++i) Push(i, gst_util_uint64_scale(i, GST_SECOND, 30));
  const auto frames = PullAll();
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));

  int since_keyframe = 0;
  for (int i = 0; i < kFrames; ++i) {
    const EncodedFrame& frame = frames[i];
    const int type = VopCodingType(frame.bytes);
    ASSERT_NE(type, -1) << "frame " << i << " has no VOP";
    EXPECT_NE(type, 2) << "frame " << i << " is a B-frame";
    EXPECT_EQ(frame.keyframe, type == 0) << "frame " << i;
    if (frame.keyframe) {
      // VOS, then the VOL, then the picture: a receiver can start here.
      EXPECT_EQ(FindStartCode(frame.bytes, 0xB0), 0u) << "frame " << i;
      EXPECT_TRUE(HasVolHeader(frame.bytes)) << "frame " << i;
      since_keyframe = 0;
    } else {
      EXPECT_FALSE(HasVolHeader(frame.bytes)) << "frame " << i;
      ++since_keyframe;
    }
    EXPECT_LT(since_keyframe, 30) << "no keyframe for a second at frame " << i;
  }
  EXPECT_TRUE(frames[0].keyframe);
}

TEST_F(EncoderTest, Settings_FollowTheNegotiatedSizeAndRate) {
  struct Case {
    int width, height, rate_numerator, rate_denominator;
    int gop_size, bitrate;
  };
  const Case cases[] = {
      {640, 480, 30, 1, 30, 1'500'000},
      {320, 240, 15, 1, 15, 375'000},
      {1280, 720, 30000, 1001, 29, 4'500'000},
  };
  for (const Case& c : cases) {
    Build(c.width, c.height, c.rate_numerator, c.rate_denominator);
    Push(0, 0);
    ASSERT_EQ(PullAll().size(), 1u);
    gint gop_size = 0, bitrate = 0, tolerance = 0, max_bframes = -1;
    g_object_get(Codec(), "gop-size", &gop_size, "bitrate", &bitrate, "bitrate-tolerance",
                 &tolerance, "max-bframes", &max_bframes, nullptr);
    EXPECT_EQ(gop_size, c.gop_size) << c.width << "x" << c.height;
    // The codec is told the rate in its own terms (filters_codec_dialogs.cpp
    // shows the stream keeping to it).
    EXPECT_EQ(bitrate, Mpeg4Encoder::CodecBitRateFor(c.bitrate, c.rate_numerator, c.rate_denominator))
        << c.width << "x" << c.height;
    EXPECT_EQ(tolerance, c.bitrate) << c.width << "x" << c.height;
    EXPECT_EQ(max_bframes, 0);
    TearDown();
  }
}

TEST_F(EncoderTest, Pins_TakeI420AndGiveMpeg4Video) {
  ASSERT_EQ(CreateMpeg4Encoder(IBaseFilter::iid, encoder_.ReleaseAndGetVoidAddress()), S_OK);
  const auto pins = PinsOf(encoder_.Get());
  ASSERT_EQ(pins.size(), 2u);
  std::vector<std::string> seen;
  ASSERT_NO_FATAL_FAILURE(DescribePins(pins, &seen));
  EXPECT_EQ(seen[0].rfind("in in: video/x-raw, format=(string)I420", 0), 0u) << seen[0];
  EXPECT_EQ(seen[0].find('\n'), std::string::npos) << seen[0];
  EXPECT_EQ(seen[1].rfind("out out: video/mpeg, mpegversion=(int)4, systemstream=(boolean)false", 0),
            0u)
      << seen[1];
}

struct NameCase {
  std::u16string name;
  HRESULT expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << Utf16ToUtf8(c.name); }

class CompressorNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(CompressorNameTest, OnlyTheXvidCodecOfTheEncoderCategoryResolves) {
  CoInitialize(nullptr);
  RegisterPresenterLinkClasses();
  const long live_at_start = ComLiveObjectCount();
  {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(BindDisplayName(GetParam().name, IBaseFilter::iid, filter.ReleaseAndGetVoidAddress()),
              GetParam().expected);
    if (SUCCEEDED(GetParam().expected)) {
      ASSERT_TRUE(filter);
      CLSID clsid{};
      filter->GetClassID(&clsid);
      EXPECT_EQ(clsid, CLSID_Mpeg4Encoder);
    } else {
      EXPECT_FALSE(filter);
    }
  }
  EXPECT_EQ(ComLiveObjectCount(), live_at_start);
  CoUninitialize();
}

INSTANTIATE_TEST_SUITE_P(
    Names, CompressorNameTest,
    ::testing::Values(NameCase{u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid", S_OK},
                      NameCase{u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\XVID", S_OK},
                      NameCase{u"@device:cm:{33d9a760-90c8-11d0-bd43-00a0c911ce86}\\XviD", S_OK},
                      NameCase{u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\divx",
                               MK_E_NOOBJECT},
                      NameCase{u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid2",
                               MK_E_NOOBJECT},
                      NameCase{u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}xvid",
                               MK_E_NOOBJECT},
                      NameCase{u"@device:cm:{0000AAAA-90C8-11D0-BD43-00A0C911CE86}\\xvid",
                               MK_E_NOOBJECT}));

}  // namespace
