#pragma once

#include <string_view>

#include "platform/dshow/gst_filter.h"

// The MPEG-4 Visual (ISO/IEC 14496-2, simple profile) encoder behind the
// stored codec name "xvid", built on gst-libav's avenc_mpeg4. Pins "in" (I420
// only, so a graph builder puts a converter in front of other formats) and
// "out" (video/mpeg, mpegversion=4, systemstream=false, profile=simple).
//
// The stream suits a live link: no B-frames (one frame out for each frame in,
// in order), a keyframe at least once a second, the configuration headers
// (VOS, VO, VOL) in band before every keyframe, about 1.5 Mbit/s at 640x480
// (scaled with the picture's area). Each output frame carries the capture time
// of its input frame as its timestamp.
class Mpeg4Encoder : public GstFilter {
 public:
  Mpeg4Encoder();

  bool IsComplete() const { return encoder_ != nullptr; }

  // Bit rate for a picture of this size (what the encoder is set to).
  static int BitRateFor(int width, int height);
  // Frames between keyframes for this frame rate: at most one second's worth.
  static int KeyframeIntervalFor(int rate_numerator, int rate_denominator);

 private:
  ~Mpeg4Encoder() override;

  GstElement* encoder_ = nullptr;  // borrowed: owned by the filter's bin
};

HRESULT CreateMpeg4Encoder(REFIID riid, void** object);

// The codec part of an "@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\NAME"
// display name, or an empty view when the name is not one of that category.
std::u16string_view VideoCompressorNameOf(std::u16string_view display_name);

// Resolver of "@device:cm:" names: the codec "xvid" (any case) is this encoder;
// any other codec or category is MK_E_NOOBJECT.
HRESULT ResolveCompressorDisplayName(std::u16string_view display_name, REFIID riid,
                                     void** object);
