#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/dshow/dialogs.h"
#include "platform/dshow/gst_filter.h"

// The settings a user can give the encoder on its configuration dialog.
struct Mpeg4EncoderSettings {
  std::int32_t bit_rate = 0;           // bits a second, 10 kbit/s to 50 Mbit/s; 0: BitRateFor the picture
  std::int32_t keyframe_interval = 0;  // frames, 1 to 600; 0: one second's worth
  std::int32_t quantizer_min = 2;      // 1 to 31
  std::int32_t quantizer_max = 31;     // quantizer_min to 31

  friend bool operator==(const Mpeg4EncoderSettings&, const Mpeg4EncoderSettings&) = default;
};

// Our own settings interface of the encoder (its dialog and tests).
struct IMpeg4EncoderSettings : IUnknown {
  static constexpr IID iid = MakeGuid("{6D0F4B8E-1C2A-4E57-9B3D-A84C2F61E07B}");
  virtual HRESULT GetSettings(Mpeg4EncoderSettings* settings) = 0;
  // E_INVALIDARG, and nothing changes, for values out of range. While the graph
  // runs the codec is opened anew with them before the next frame, which so
  // comes out as a keyframe with the configuration headers; the stream goes on.
  virtual HRESULT SetSettings(const Mpeg4EncoderSettings& settings) = 0;
};

// The MPEG-4 Visual (ISO/IEC 14496-2, simple profile) encoder behind the
// stored codec name "xvid", built on gst-libav's avenc_mpeg4. Pins "in" (I420
// only, so a graph builder puts a converter in front of other formats) and
// "out" (video/mpeg, mpegversion=4, systemstream=false, profile=simple).
//
// The stream suits a live link: no B-frames (one frame out for each frame in,
// in order), a keyframe at least once a second, the configuration headers
// (VOS, VO, VOL) in band before every keyframe, about 1.5 Mbit/s at 640x480
// (scaled with the picture's area; see CodecBitRateFor for what Debian 12's
// libav can reach). Each output frame carries the capture time
// of its input frame as its timestamp. Its settings can change while it runs
// (IMpeg4EncoderSettings, and the configuration dialog on top of it).
class Mpeg4Encoder
    : public ComExtends<GstFilter, IMpeg4EncoderSettings, IAMVfwCompressDialogs> {
 public:
  Mpeg4Encoder();

  bool IsComplete() const { return codec_ != nullptr; }

  // Bit rate for a picture of this size (what the encoder is set to).
  static int BitRateFor(int width, int height);
  // Frames between keyframes for this frame rate: at most one second's worth.
  static int KeyframeIntervalFor(int rate_numerator, int rate_denominator);
  // What the libav codec must be told for `bit_rate` at this frame rate. The
  // same, where gst-libav gives the codec the frame rate as its time base; where
  // it gives it a finer one (Debian 12's 1.22.0: 1/65535 s) the codec would aim
  // that many times too low, so it is told that much more, up to what its
  // setting holds (there about 983 kbit/s at 30 frames a second).
  static int CodecBitRateFor(int bit_rate, int rate_numerator, int rate_denominator);
  // The highest bit rate the codec can be told at this frame rate.
  static int MaxBitRateFor(int rate_numerator, int rate_denominator);

  // IMpeg4EncoderSettings
  HRESULT GetSettings(Mpeg4EncoderSettings* settings) override;
  HRESULT SetSettings(const Mpeg4EncoderSettings& settings) override;
  // IAMVfwCompressDialogs: 4 answers S_OK (there is a configuration dialog) and
  // shows nothing; 1 shows it, modal, owned by `window`; there is no about box
  // (2 and 8: E_NOTIMPL); other codes are E_INVALIDARG.
  HRESULT ShowDialog(int dialog, OAHWND window) override;

  struct Codec;  // shared with the streaming thread

 private:
  ~Mpeg4Encoder() override;

  std::shared_ptr<Codec> codec_;  // null when the elements were not found
};

HRESULT CreateMpeg4Encoder(REFIID riid, void** object);

// The codec part of an "@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\NAME"
// display name, or an empty view when the name is not one of that category.
std::u16string_view VideoCompressorNameOf(std::u16string_view display_name);

// Resolver of "@device:cm:" names: the codec "xvid" (any case) is this encoder;
// any other codec or category is MK_E_NOOBJECT.
HRESULT ResolveCompressorDisplayName(std::u16string_view display_name, REFIID riid,
                                     void** object);
