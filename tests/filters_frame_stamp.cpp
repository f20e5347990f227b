#include "filters/frame_stamp.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "filters/mpeg4_decoder.h"
#include "filters/mpeg4_encoder.h"
#include "platform/com/com.h"
#include "platform/dshow/gst_filter.h"

namespace {

// A grey picture as 32-bit pixels from a luma plane (B = G = R = Y).
std::vector<std::uint8_t> LumaToRgb32(const std::vector<std::uint8_t>& luma, int width,
                                      int height) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < luma.size(); ++i) {
    rgb[4 * i] = rgb[4 * i + 1] = rgb[4 * i + 2] = luma[i];
    rgb[4 * i + 3] = 0xFF;
  }
  return rgb;
}

std::optional<std::uint16_t> StampAndRead(int width, int height, std::uint32_t number,
                                          std::uint8_t background = 0x80) {
  std::vector<std::uint8_t> luma(static_cast<std::size_t>(width) * height, background);
  frame_stamp::StampLuma(luma.data(), width, width, height, number);
  const auto rgb = LumaToRgb32(luma, width, height);
  return frame_stamp::ReadRgb32(rgb.data(), width * 4, width, height);
}

TEST(FrameStamp, NumberIsReadBackFromThePixels) {
  struct Case {
    int width, height;
    std::uint32_t number;
    std::uint16_t expected;
  };
  const Case cases[] = {
      {640, 480, 0, 0},           {640, 480, 1, 1},          {640, 480, 0x8000, 0x8000},
      {640, 480, 0xFFFF, 0xFFFF}, {160, 120, 0x1234, 0x1234}, {176, 144, 0xA5A5, 0xA5A5},
      {16, 12, 0x5A5A, 0x5A5A},   {640, 480, 70000, 70000 & 0xFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StampAndRead(c.width, c.height, c.number), c.expected)
        << c.width << "x" << c.height << " number " << c.number;
  }
}

TEST(FrameStamp, OnlyTheTopSixthIsPainted) {
  constexpr int kWidth = 64, kHeight = 48;
  std::vector<std::uint8_t> luma(kWidth * kHeight, 0x55);
  frame_stamp::StampLuma(luma.data(), kWidth, kWidth, kHeight, 0x1234);
  for (int y = kHeight / 6; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(luma[y * kWidth + x], 0x55) << x << "," << y;
  }
}

TEST(FrameStamp, ChromaUnderTheStampIsNeutral) {
  constexpr int kWidth = 64, kHeight = 48, kChromaWidth = 32;
  std::vector<std::uint8_t> u(kChromaWidth * kHeight / 2, 0x10);
  std::vector<std::uint8_t> v(kChromaWidth * kHeight / 2, 0xF0);
  frame_stamp::StampChroma(u.data(), v.data(), kChromaWidth, kWidth, kHeight);
  EXPECT_EQ(u[0], 128);
  EXPECT_EQ(v[kChromaWidth * (kHeight / 12) - 1], 128);  // last chroma row of the stamp
  EXPECT_EQ(u[kChromaWidth * (kHeight / 12)], 0x10);     // below it, untouched
}

TEST(FrameStamp, DamagedOrAbsentStampReadsAsNothing) {
  constexpr int kWidth = 160, kHeight = 120;
  const int row = kHeight / 12;
  const int block = kWidth / 16;
  struct Case {
    const char* what;
    void (*damage)(std::vector<std::uint8_t>& luma, int row, int block);
  };
  const Case cases[] = {
      {"one bit flipped in the number row",
       [](std::vector<std::uint8_t>& luma, int row, int block) {
         for (int y = 0; y < row; ++y)
           for (int x = 3 * block; x < 4 * block; ++x)
             luma[y * kWidth + x] = luma[y * kWidth + x] > 128 ? 16 : 235;
       }},
      {"a block smeared to grey",
       [](std::vector<std::uint8_t>& luma, int row, int block) {
         for (int y = row; y < 2 * row; ++y)
           for (int x = 7 * block; x < 8 * block; ++x) luma[y * kWidth + x] = 128;
       }},
      {"no stamp at all: a black picture",
       [](std::vector<std::uint8_t>& luma, int, int) { std::fill(luma.begin(), luma.end(), 16); }},
      {"no stamp at all: a white picture",
       [](std::vector<std::uint8_t>& luma, int, int) { std::fill(luma.begin(), luma.end(), 235); }},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> luma(kWidth * kHeight, 0x80);
    frame_stamp::StampLuma(luma.data(), kWidth, kWidth, kHeight, 0x0F0F);
    c.damage(luma, row, block);
    const auto rgb = LumaToRgb32(luma, kWidth, kHeight);
    EXPECT_EQ(frame_stamp::ReadRgb32(rgb.data(), kWidth * 4, kWidth, kHeight), std::nullopt)
        << c.what;
  }
}

TEST(FrameStamp, CaptureTimesAreKeptByNumber) {
  const auto t1 = frame_stamp::Clock::now();
  const auto t2 = t1 + std::chrono::milliseconds(5);
  frame_stamp::NoteCaptured(0x4242, t1);
  frame_stamp::NoteCaptured(0x4243, t2);
  EXPECT_EQ(frame_stamp::CaptureTime(0x4242), t1);
  EXPECT_EQ(frame_stamp::CaptureTime(0x4243), t2);
  frame_stamp::NoteCaptured(0x4242, t2);  // the number comes round again
  EXPECT_EQ(frame_stamp::CaptureTime(0x4242), t2);
}

TEST(FrameStamp, PaintObserverGetsNumberWithPaintAndCaptureTimes) {
  struct Seen {
    std::vector<frame_stamp::PaintRecord> records;
  } seen;
  frame_stamp::SetPaintObserver(
      [](const frame_stamp::PaintRecord& record, void* context) {
        static_cast<Seen*>(context)->records.push_back(record);
      },
      &seen);
  const auto captured = frame_stamp::Clock::now();
  const auto painted = captured + std::chrono::milliseconds(3);
  frame_stamp::NoteCaptured(0x0777, captured);
  frame_stamp::NotePainted(0x0777, painted);
  frame_stamp::SetPaintObserver(nullptr, nullptr);
  frame_stamp::NotePainted(0x0777, painted);  // nobody is told any more

  ASSERT_EQ(seen.records.size(), 1u);
  EXPECT_EQ(seen.records[0].number, 0x0777);
  EXPECT_EQ(seen.records[0].painted, painted);
  EXPECT_EQ(seen.records[0].captured, captured);
}

// The way a stamped frame goes in the link: encoded with the real encoder,
// decoded with the real decoder, converted to BGRx and scaled down to the
// video area's 160x120 before the number is read back.
class StampThroughCodecTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 640, kHeight = 480;

  void SetUp() override {
    EnsureGStreamer();
    live_at_start_ = ComLiveObjectCount();
    ASSERT_EQ(CreateMpeg4Encoder(IBaseFilter::iid, encoder_.ReleaseAndGetVoidAddress()), S_OK);
    ASSERT_EQ(CreateMpeg4Decoder(IBaseFilter::iid, decoder_.ReleaseAndGetVoidAddress()), S_OK);
    pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
    GErrorOwner error;
    GstElement* head = gst_parse_bin_from_description(
        "appsrc name=src format=time is-live=false block=true", TRUE, error.out());
    GstElement* tail = gst_parse_bin_from_description(
        "videoconvert ! videoscale ! video/x-raw,format=BGRx,width=160,height=120 ! "
        "appsink name=sink sync=false",
        TRUE, error.out());
    ASSERT_TRUE(head && tail);
    GstElement* encoder = ElementOfFilter(encoder_.Get());
    GstElement* decoder = ElementOfFilter(decoder_.Get());
    gst_bin_add_many(GST_BIN(pipeline_.get()), head, encoder, decoder, tail, nullptr);
    ASSERT_TRUE(gst_element_link_many(head, encoder, decoder, tail, nullptr));
    src_ = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(head), "src"));
    sink_ = GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(tail), "sink"));
    GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(
        "video/x-raw,format=I420,width=640,height=480,framerate=30/1"));
    g_object_set(src_.get(), "caps", caps.get(), nullptr);
    ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  }

  void TearDown() override {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    src_.Reset();
    sink_.Reset();
    pipeline_.Reset();
    encoder_ = nullptr;
    decoder_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
  }

  // A busy moving picture under the stamp, so the codec has real work.
  void Push(int index, std::uint32_t number) {
    const std::size_t luma_size = kWidth * kHeight;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, luma_size * 3 / 2, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    std::uint8_t* y = map.data;
    for (int row = 0; row < kHeight; ++row) {
      for (int x = 0; x < kWidth; ++x) {
        y[row * kWidth + x] = static_cast<std::uint8_t>((x + 2 * row + 8 * index) & 0xFF);
      }
    }
    std::uint8_t* u = y + luma_size;
    std::uint8_t* v = u + luma_size / 4;
    for (std::size_t i = 0; i < luma_size / 4; ++i) {
      u[i] = static_cast<std::uint8_t>(64 + (i % 128));
      v[i] = static_cast<std::uint8_t>(192 - (i % 128));
    }
    frame_stamp::StampLuma(y, kWidth, kWidth, kHeight, number);
    frame_stamp::StampChroma(u, v, kWidth / 2, kWidth, kHeight);
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(index, GST_SECOND, 30);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, 30);
    ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_.get()), buffer), GST_FLOW_OK);
  }

  // The number read from the next picture that comes out (none at the end).
  std::optional<std::optional<std::uint16_t>> Pull() {
    GstSampleRef sample = GstSampleRef::Adopt(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()), 10 * GST_SECOND));
    if (!sample) return std::nullopt;
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    auto number = frame_stamp::ReadRgb32(map.data, 160 * 4, 160, 120);
    gst_buffer_unmap(buffer, &map);
    return number;
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> encoder_;
  ComPtr<IBaseFilter> decoder_;
  GstElementRef pipeline_;
  GstElementRef src_;
  GstElementRef sink_;
};

TEST_F(StampThroughCodecTest, EncodedDecodedConvertedAndScaled_NumberComesBack) {
  const std::uint32_t first = 0xFFF0;  // runs across the 16-bit wrap
  constexpr int kFrames = 40;
  for (int i = 0; i < kFrames; ++i) Push(i, first + i);
  gst_app_src_end_of_stream(GST_APP_SRC(src_.get()));

  std::vector<std::uint16_t> read;
  std::vector<std::uint16_t> expected;
  for (int i = 0; i < kFrames; ++i) {
    expected.push_back(static_cast<std::uint16_t>(first + i));
    const auto number = Pull();
    ASSERT_TRUE(number.has_value()) << "frame " << i << " did not come out";
    ASSERT_TRUE(number->has_value()) << "frame " << i << " had no readable stamp";
    read.push_back(**number);
  }
  EXPECT_EQ(read, expected);
}

}  // namespace
