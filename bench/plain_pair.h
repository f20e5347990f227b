#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "filters/frame_stamp.h"
#include "platform/dshow/gst_ref.h"

// The stock GStreamer peer of the link, for benchmarks: a sender pipeline and a
// receiver pipeline built from stock elements only, doing the link's work.
//
//   videotestsrc (640x480 I420, 30 fps, live) + frame stamp -> avenc_mpeg4 (no
//   B-frames, gop 30, 1.5 Mbit/s) -> rtpmp4vpay -> udpsink to the group
//   udpsrc [-> rtpjitterbuffer] -> rtpmp4vdepay -> avdec_mpeg4 -> videoconvert ->
//   videoscale -> 160x120 BGRx -> appsink, which reads the stamp back
//
// Each frame is stamped with its number as it leaves videotestsrc and its
// capture time noted (frame_stamp::NoteCaptured); the appsink hands every
// frame whose stamp it reads to the observer, as the renderer's paint does.
//
// avenc_mpeg4 (Debian 12's gst-libav) stamps all its output with one bogus
// time, so the RTP timestamps would all be equal and a receiver that plays by
// the clock shows nothing. As our encoder filter does, each input frame's time
// rides across the encoder in a reference-timestamp meta and is put back on
// its output, and the encoder's shifted output segment is replaced by its
// input segment.
//
// It sends to a multicast group: only inside tests/run_in_netns.sh.
class PlainPair {
 public:
  struct Options {
    // Receiver: an rtpjitterbuffer at its default latency, avdec_mpeg4 at its
    // defaults and an appsink synced to the clock (the receiver as GStreamer
    // sets it up), or no jitter buffer, one decoder thread and no clock waits.
    bool receiver_defaults = false;
    // The first frame number stamped; keep the pairs and cameras of one process
    // apart, since capture times are recorded by number.
    std::uint16_t first_number = 40000;
    // The sender stops by itself after this many frames.
    int max_frames = 30 * 60;
  };

  explicit PlainPair(Options options);
  ~PlainPair();
  PlainPair(const PlainPair&) = delete;
  PlainPair& operator=(const PlainPair&) = delete;

  // Builds both pipelines and starts them, receiver first. False, with the
  // reason in `error`, when an element is missing or a pipeline will not start.
  bool Start(std::string* error);
  // Stops both; also done by the destructor.
  void Stop();

  // Called on the appsink's streaming thread for every frame whose stamp was
  // read; `painted` is when the sample reached the appsink.
  void SetObserver(frame_stamp::PaintObserver observer, void* context);

  // The text of the two pipelines, for reports.
  std::string SenderDescription() const;
  std::string ReceiverDescription() const;

 private:
  struct Shared;  // touched by the streaming threads

  Options options_;
  std::shared_ptr<Shared> shared_;
  GstElementRef sender_;
  GstElementRef receiver_;
};
