#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QEvent>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <mutex>

#include "platform/dshow/gst_ref.h"

// The newest decoded frame on its way from the streaming thread to the window's
// thread. The streaming thread never waits on the window: a frame the window has
// not taken yet is replaced by the newer one, and at most one wake-up event is
// pending at the receiver at any time.
class FrameSlot {
 public:
  // Event types posted to the receiver.
  static QEvent::Type FrameEventType();
  static QEvent::Type AutoShowEventType();

  // Streaming thread: keeps `sample` as the newest frame and wakes the receiver.
  void Offer(GstSampleRef sample);
  // Window's thread: the newest frame, or none when it was taken already.
  GstSampleRef Take();
  // Window's thread: the object woken for new frames (null: nobody). A new
  // receiver is woken at once when a frame is waiting.
  void SetReceiver(QObject* receiver);
  // Any thread: hands an event of `type` to the receiver, if there is one: at
  // once on the receiver's own thread, posted from any other.
  void Post(QEvent::Type type);

 private:
  std::mutex mutex_;
  GstSampleRef newest_;          // guarded by mutex_
  bool wake_pending_ = false;    // guarded by mutex_
  QObject* receiver_ = nullptr;  // guarded by mutex_; lives on the window's thread
};

// The renderer's window: paints the newest frame (BGRx, or I420 scaled first and
// converted at the painted size) stretched over its whole rectangle
// (black until the first frame), keeps the last one when the stream stops, and
// hands mouse and keyboard input to a drain widget when it has one.
class VideoWidget final : public QWidget {
 public:
  static constexpr const char* kObjectName = "VideoRendererWindow";

  explicit VideoWidget(std::shared_ptr<FrameSlot> slot);
  ~VideoWidget() override;

  // Input on the picture goes to `drain` (null: handled as by any widget).
  void SetDrain(QWidget* drain);
  QWidget* Drain() const { return drain_.data(); }
  // Shows the window when it has an owner (the renderer starts running).
  void AutoShow();
  bool HasPicture() const { return static_cast<bool>(current_); }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void ShowNewest();
  // Draws `buffer`, a frame of `info_`, over the whole canvas; false when it cannot.
  bool DrawFrame(GstBuffer* buffer);
  // Posts a copy of an input event to the drain; false for other events.
  bool ForwardInput(QEvent* event);

  std::shared_ptr<FrameSlot> slot_;
  GstSampleRef current_;  // the frame on screen
  GstCapsRef info_caps_;  // the caps `info_` was read from
  GstVideoInfo info_{};
  bool info_valid_ = false;
  bool fresh_ = false;  // `current_` not painted yet: read its stamp on the next paint
  QImage canvas_;       // the picture as painted, reused while the size holds
  struct ConverterFree {
    void operator()(GstVideoConverter* converter) const { gst_video_converter_free(converter); }
  };
  // I420 frames of `info_` to the canvas: scaled into `small_`, then converted.
  // Made again when the frames' caps or the canvas size change.
  std::unique_ptr<GstVideoConverter, ConverterFree> scaler_;
  std::unique_ptr<GstVideoConverter, ConverterFree> colour_;
  GstVideoInfo small_info_{};
  GstBufferRef small_;
  QSize converted_size_;
  QPointer<QWidget> drain_;
};
