#pragma once

#include "platform/dshow/dialogs.h"
#include "platform/dshow/gst_filter.h"

// The MPEG-4 Visual (ISO/IEC 14496-2) decoder, on gst-libav's avdec_mpeg4.
// Pins "in" (video/mpeg, mpegversion=4, systemstream=false, configuration in
// band) and "out" (raw video). Tuned for a live link: no frame threading (each
// thread would hold a frame back), and pictures the decoder knows to be damaged
// are dropped rather than shown, so nothing comes out before the first keyframe
// with its configuration.
//
// It has no configuration dialog: what a user could tune in avdec_mpeg4 (frame
// skipping, lower resolution, threads) would only undo that tuning. It answers
// the codec dialog questions so (ShowDialog 4 and 8 fail, 1 and 2 show nothing).
class Mpeg4Decoder : public ComExtends<GstFilter, IAMVfwCompressDialogs> {
 public:
  Mpeg4Decoder();

  bool IsComplete() const { return complete_; }

  // IAMVfwCompressDialogs: E_NOTIMPL for every code; nothing is shown.
  HRESULT ShowDialog(int dialog, OAHWND window) override;

 private:
  ~Mpeg4Decoder() override;

  bool complete_ = false;
};

inline constexpr const char* kMpeg4DecoderFriendlyName = "Xvid MPEG-4 Video Decoder";

HRESULT CreateMpeg4Decoder(REFIID riid, void** object);
