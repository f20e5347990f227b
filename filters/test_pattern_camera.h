#pragma once

#include <cstdint>
#include <memory>

#include "platform/dshow/dialogs.h"
#include "platform/dshow/gst_filter.h"

// A live camera without a device: a moving test pattern at a fixed size and rate,
// each frame stamped with its number (filters/frame_stamp.h) as it leaves the
// source, for tests, demos and benchmarks. One output pin, "out".

enum class TestPattern : std::int32_t {
  kMovingBars = 0,  // colour bars scrolling sideways
  kBall = 1,        // a white ball bouncing on black
  kSnow = 2,        // random noise
};

enum class TestPixelFormat : std::int32_t {
  kI420 = 0,  // planar 4:2:0
  kYUY2 = 1,  // packed 4:2:2
  kNV12 = 2,  // 4:2:0 with interleaved chroma
};

struct TestPatternSettings {
  TestPattern pattern = TestPattern::kMovingBars;
  std::int32_t width = 640;   // even, 16 to 4096
  std::int32_t height = 480;  // even, 12 to 4096
  std::int32_t frame_rate_numerator = 30;
  std::int32_t frame_rate_denominator = 1;  // rate between 1/1000 and 240 frames a second
  TestPixelFormat format = TestPixelFormat::kI420;
  bool stamping = true;  // frame numbers painted and their capture times noted

  friend bool operator==(const TestPatternSettings&, const TestPatternSettings&) = default;
};

// Our own settings interface of the test pattern camera (tests and its page).
struct ITestPatternSettings : IUnknown {
  static constexpr IID iid = MakeGuid("{5E1D7A93-2C4B-4F8E-B06A-91D3C7E2F458}");
  virtual HRESULT GetSettings(TestPatternSettings* settings) = 0;
  // Takes effect at once; only while the filter is stopped (VFW_E_NOT_STOPPED
  // otherwise). E_INVALIDARG, and nothing changes, for values out of range.
  virtual HRESULT SetSettings(const TestPatternSettings& settings) = 0;
};

class TestPatternCamera
    : public ComExtends<GstFilter, ITestPatternSettings, ISpecifyPropertyPages> {
 public:
  TestPatternCamera();

  // ITestPatternSettings
  HRESULT GetSettings(TestPatternSettings* settings) override;
  HRESULT SetSettings(const TestPatternSettings& settings) override;
  // ISpecifyPropertyPages: the test pattern page.
  HRESULT GetPages(CAUUID* pages) override;

  // Whether the GStreamer elements it needs were found.
  bool IsComplete() const { return source_ != nullptr && caps_filter_ != nullptr; }

  struct StampState;  // shared with the streaming thread

 private:
  ~TestPatternCamera() override;
  void Apply();
  bool IsStopped();

  GstElement* source_ = nullptr;       // borrowed: owned by the filter's bin
  GstElement* caps_filter_ = nullptr;  // borrowed: owned by the filter's bin
  TestPatternSettings settings_;
  std::shared_ptr<StampState> stamp_state_;
};

// Creates a test pattern camera answering `riid` (the class registry's factory).
HRESULT CreateTestPatternCamera(REFIID riid, void** object);
