#include "filters/video_widget.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QWheelEvent>

#include <utility>

#include "filters/frame_stamp.h"

namespace {

// Wraps one mapped BGRx frame without copying; valid while the frame stays mapped.
QImage WrapFrame(const GstVideoFrame& frame) {
  return QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
}

}  // namespace

QEvent::Type FrameSlot::FrameEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

QEvent::Type FrameSlot::AutoShowEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void FrameSlot::Offer(GstSampleRef sample) {
  std::unique_lock lock(mutex_);
  std::swap(newest_, sample);
  if (receiver_ && !wake_pending_) {
    wake_pending_ = true;
    QCoreApplication::postEvent(receiver_, new QEvent(FrameEventType()));
  }
  lock.unlock();
  // `sample` now holds the frame nobody showed; it goes outside the lock.
}

GstSampleRef FrameSlot::Take() {
  std::lock_guard lock(mutex_);
  wake_pending_ = false;
  return std::exchange(newest_, GstSampleRef());
}

void FrameSlot::SetReceiver(QObject* receiver) {
  std::lock_guard lock(mutex_);
  receiver_ = receiver;
  // An event pending at a receiver that is going is dropped with it.
  wake_pending_ = false;
  if (receiver_ && newest_) {
    wake_pending_ = true;
    QCoreApplication::postEvent(receiver_, new QEvent(FrameEventType()));
  }
}

void FrameSlot::Post(QEvent::Type type) {
  std::unique_lock lock(mutex_);
  if (!receiver_) return;
  if (receiver_->thread() != QThread::currentThread()) {
    QCoreApplication::postEvent(receiver_, new QEvent(type));
    return;
  }
  // The receiver is only ever deleted on its own thread, which is this one: it
  // stays valid without the lock, and the streaming thread never waits on it.
  QObject* receiver = receiver_;
  lock.unlock();
  QEvent event(type);
  QCoreApplication::sendEvent(receiver, &event);
}

VideoWidget::VideoWidget(std::shared_ptr<FrameSlot> slot) : slot_(std::move(slot)) {
  setObjectName(kObjectName);
  // Every pixel is painted on each paint: no background fill first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  slot_->SetReceiver(this);
}

VideoWidget::~VideoWidget() { slot_->SetReceiver(nullptr); }

void VideoWidget::SetDrain(QWidget* drain) {
  drain_ = drain;
  // With a drain every move counts, and a click gives the keyboard to the picture
  // so keys reach the drain too.
  setMouseTracking(drain != nullptr);
  setFocusPolicy(drain ? Qt::ClickFocus : Qt::NoFocus);
}

void VideoWidget::AutoShow() {
  if (parentWidget()) show();
}

bool VideoWidget::event(QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == FrameSlot::FrameEventType()) {
    ShowNewest();
    return true;
  }
  if (type == FrameSlot::AutoShowEventType()) {
    AutoShow();
    return true;
  }
  if (drain_ && ForwardInput(event)) return true;
  return QWidget::event(event);
}

void VideoWidget::ShowNewest() {
  GstSampleRef sample = slot_->Take();
  if (!sample) return;
  GstCaps* caps = gst_sample_get_caps(sample.get());
  if (caps != info_caps_.get()) {
    info_caps_ = GstCapsRef::Share(caps);
    info_valid_ = caps && gst_video_info_from_caps(&info_, caps) &&
                  (GST_VIDEO_INFO_FORMAT(&info_) == GST_VIDEO_FORMAT_BGRx ||
                   GST_VIDEO_INFO_FORMAT(&info_) == GST_VIDEO_FORMAT_I420);
    scaler_.reset();
    colour_.reset();
  }
  current_ = std::move(sample);
  fresh_ = isVisible();
  // Shown now, not at the next pass of the event loop.
  repaint();
}

bool VideoWidget::DrawFrame(GstBuffer* buffer) {
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info_, buffer, GST_MAP_READ)) return false;
  if (GST_VIDEO_INFO_FORMAT(&info_) == GST_VIDEO_FORMAT_BGRx) {
    QPainter canvas_painter(&canvas_);
    canvas_painter.setRenderHint(QPainter::SmoothPixmapTransform);
    canvas_painter.drawImage(canvas_.rect(), WrapFrame(frame));
    gst_video_frame_unmap(&frame);
    return true;
  }

  // I420 is scaled while it is small (a quarter of the bytes of BGRx), then only
  // the pixels shown are converted, straight into the canvas. Two steps are
  // several times cheaper than one converter that scales and converts.
  GstVideoInfo out;
  gst_video_info_set_format(&out, GST_VIDEO_FORMAT_BGRx, static_cast<guint>(canvas_.width()),
                            static_cast<guint>(canvas_.height()));
  // The converters only scale and convert: rate and layout stay those of the input.
  GST_VIDEO_INFO_FPS_N(&out) = GST_VIDEO_INFO_FPS_N(&info_);
  GST_VIDEO_INFO_FPS_D(&out) = GST_VIDEO_INFO_FPS_D(&info_);
  GST_VIDEO_INFO_INTERLACE_MODE(&out) = GST_VIDEO_INFO_INTERLACE_MODE(&info_);
  GST_VIDEO_INFO_PLANE_STRIDE(&out, 0) = static_cast<gint>(canvas_.bytesPerLine());
  GST_VIDEO_INFO_SIZE(&out) = static_cast<gsize>(canvas_.sizeInBytes());
  if (!scaler_ || !colour_ || converted_size_ != canvas_.size()) {
    GstVideoInfo small;
    gst_video_info_set_interlaced_format(&small, GST_VIDEO_FORMAT_I420,
                                         GST_VIDEO_INFO_INTERLACE_MODE(&info_),
                                         static_cast<guint>(canvas_.width()),
                                         static_cast<guint>(canvas_.height()));
    GST_VIDEO_INFO_FPS_N(&small) = GST_VIDEO_INFO_FPS_N(&info_);
    GST_VIDEO_INFO_FPS_D(&small) = GST_VIDEO_INFO_FPS_D(&info_);
    small.colorimetry = info_.colorimetry;
    // Bilinear, as a smooth pixmap transform would scale.
    scaler_.reset(gst_video_converter_new(
        &info_, &small,
        gst_structure_new("GstVideoConverter", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD,
                          GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
                          GST_VIDEO_CONVERTER_OPT_RESAMPLER_TAPS, G_TYPE_UINT, 2u, nullptr)));
    colour_.reset(gst_video_converter_new(
        &small, &out,
        gst_structure_new("GstVideoConverter", GST_VIDEO_CONVERTER_OPT_DITHER_METHOD,
                          GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE, nullptr)));
    small_info_ = small;
    small_ = GstBufferRef::Adopt(
        gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&small), nullptr));
    converted_size_ = canvas_.size();
  }
  const GstBufferRef target = GstBufferRef::Adopt(gst_buffer_new_wrapped_full(
      GstMemoryFlags{}, canvas_.bits(), GST_VIDEO_INFO_SIZE(&out), 0, GST_VIDEO_INFO_SIZE(&out),
      nullptr, nullptr));
  GstVideoFrame small_frame, canvas_frame;
  bool drawn = false;
  if (scaler_ && colour_ && small_ &&
      gst_video_frame_map(&small_frame, &small_info_, small_.get(), GST_MAP_READWRITE)) {
    if (gst_video_frame_map(&canvas_frame, &out, target.get(), GST_MAP_WRITE)) {
      gst_video_converter_frame(scaler_.get(), &frame, &small_frame);
      gst_video_converter_frame(colour_.get(), &small_frame, &canvas_frame);
      gst_video_frame_unmap(&canvas_frame);
      drawn = true;
    }
    gst_video_frame_unmap(&small_frame);
  }
  gst_video_frame_unmap(&frame);
  return drawn;
}

void VideoWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  GstBuffer* buffer = current_ ? gst_sample_get_buffer(current_.get()) : nullptr;
  if (!buffer || !info_valid_ || width() <= 0 || height() <= 0) {
    painter.fillRect(rect(), Qt::black);
    fresh_ = false;
    return;
  }
  // The frame is drawn into an image of the widget's size first, so that what
  // was painted can be read back before it goes to the screen.
  if (canvas_.size() != size()) canvas_ = QImage(size(), QImage::Format_RGB32);
  if (!DrawFrame(buffer)) {
    painter.fillRect(rect(), Qt::black);
    fresh_ = false;
    return;
  }

  std::optional<std::uint16_t> number;
  if (std::exchange(fresh_, false)) {
    number = frame_stamp::ReadRgb32(canvas_.constBits(), static_cast<int>(canvas_.bytesPerLine()),
                                    canvas_.width(), canvas_.height());
  }
  painter.drawImage(0, 0, canvas_);
  if (number) frame_stamp::NotePainted(*number, frame_stamp::Clock::now());
}

bool VideoWidget::ForwardInput(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const QPointF global = mouse->globalPosition();
      QCoreApplication::postEvent(
          drain_, new QMouseEvent(mouse->type(), drain_->mapFromGlobal(global),
                                  drain_->window()->mapFromGlobal(global), global, mouse->button(),
                                  mouse->buttons(), mouse->modifiers(), mouse->pointingDevice()));
      return true;
    }
    case QEvent::Wheel: {
      const auto* wheel = static_cast<QWheelEvent*>(event);
      const QPointF global = wheel->globalPosition();
      QCoreApplication::postEvent(
          drain_,
          new QWheelEvent(drain_->mapFromGlobal(global), global, wheel->pixelDelta(),
                          wheel->angleDelta(), wheel->buttons(), wheel->modifiers(), wheel->phase(),
                          wheel->inverted(), wheel->source(), wheel->pointingDevice()));
      return true;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      QCoreApplication::postEvent(drain_, event->clone());
      return true;
    case QEvent::ContextMenu:
      // The drain had the click that made it; no menu of the picture's own.
      return true;
    default:
      return false;
  }
}
