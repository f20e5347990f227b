#include "filters/video_renderer.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <QApplication>
#include <QPointer>
#include <QThread>

#include <mutex>
#include <string>

#include "filters/video_widget.h"
#include "platform/com/com.h"

namespace {

// The style of a renderer window that nobody has styled yet.
constexpr LONG kDefaultStyle = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

bool OnWindowThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// The filter and its widget belong to the GUI thread: anything else is misuse.
void RequireWindowThread(const char* where) {
  if (!OnWindowThread()) qFatal("VideoRenderer::%s: not on the window's thread", where);
}

QWidget* WidgetOf(OAHWND handle) { return reinterpret_cast<QWidget*>(handle); }
OAHWND HandleOf(const QWidget* widget) { return reinterpret_cast<OAHWND>(widget); }

// The renderer's element: a bin that tells the window when it starts to pause or
// play. The graph moves GStreamer-backed filters through its pipeline's states
// without calling their Run, so the element itself is where the start is seen.
GQuark SlotQuark() {
  static const GQuark quark = g_quark_from_static_string("presenter-link-frame-slot");
  return quark;
}

GstElementClass* renderer_bin_parent_class = nullptr;

GstStateChangeReturn RendererBinChangeState(GstElement* element, GstStateChange transition) {
  const GstStateChangeReturn result = renderer_bin_parent_class->change_state(element, transition);
  if (result != GST_STATE_CHANGE_FAILURE && (transition == GST_STATE_CHANGE_READY_TO_PAUSED ||
                                             transition == GST_STATE_CHANGE_PAUSED_TO_PLAYING)) {
    if (auto* slot = static_cast<std::shared_ptr<FrameSlot>*>(
            g_object_get_qdata(G_OBJECT(element), SlotQuark()))) {
      (*slot)->Post(FrameSlot::AutoShowEventType());
    }
  }
  return result;
}

// The widget maps every frame through its video meta (gst_video_frame_map), so
// it can take frames laid out as the decoder has them: saying so lets a decoder
// decode straight into the buffers it hands over (avdec_mpeg4's direct
// rendering) instead of copying each picture out of a pool of its own.
GstPadProbeReturn OnSinkQuery(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION &&
      !gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr)) {
    gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
  }
  return GST_PAD_PROBE_OK;
}

GType RendererBinType() {
  static const GType type = [] {
    const auto class_init = [](gpointer klass, gpointer) {
      renderer_bin_parent_class = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
      GST_ELEMENT_CLASS(klass)->change_state = RendererBinChangeState;
    };
    return g_type_register_static_simple(GST_TYPE_BIN, "PresenterLinkVideoRendererBin",
                                         sizeof(GstBinClass), class_init, sizeof(GstBin), nullptr,
                                         GTypeFlags{});
  }();
  return type;
}

}  // namespace

// What the streaming thread touches. Held by the appsink's callbacks as well, so
// it outlives the filter while the element is being torn down.
struct VideoRenderer::Stream {
  std::shared_ptr<FrameSlot> slot = std::make_shared<FrameSlot>();

  std::mutex filter_mutex;
  VideoRenderer* filter = nullptr;  // guarded by filter_mutex; null once the filter goes

  // Streaming thread only: the size of the frames seen last.
  GstCapsRef caps;
  int width = 0;
  int height = 0;

  static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
    Stream& stream = **static_cast<std::shared_ptr<Stream>*>(data);
    GstSampleRef sample = GstSampleRef::Adopt(gst_app_sink_pull_sample(sink));
    if (!sample) return GST_FLOW_OK;
    stream.NoteCaps(gst_sample_get_caps(sample.get()));
    stream.slot->Offer(std::move(sample));
    return GST_FLOW_OK;
  }

  // Posts EC_VIDEO_SIZE_CHANGED when the frames come in a new size (not for the first).
  void NoteCaps(GstCaps* new_caps) {
    if (!new_caps || new_caps == caps.get()) return;
    caps = GstCapsRef::Share(new_caps);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, new_caps)) return;
    const int new_width = GST_VIDEO_INFO_WIDTH(&info);
    const int new_height = GST_VIDEO_INFO_HEIGHT(&info);
    const bool changed = width != 0 && (new_width != width || new_height != height);
    width = new_width;
    height = new_height;
    if (!changed) return;
    const auto size = static_cast<LONG>((static_cast<std::uint32_t>(new_height & 0xFFFF) << 16) |
                                        static_cast<std::uint32_t>(new_width & 0xFFFF));
    std::lock_guard lock(filter_mutex);
    if (filter) filter->PostGraphEvent(EC_VIDEO_SIZE_CHANGED, size, 0);
  }
};

struct VideoRenderer::Window {
  std::shared_ptr<FrameSlot> slot;
  QPointer<VideoWidget> widget;  // the owner deletes it when it goes first
  QPointer<QWidget> owner;
  QPointer<QWidget> drain;
  LONG style = kDefaultStyle;
  LONG style_ex = 0;
  std::u16string caption;

  // The widget, made afresh (without an owner, hidden) when the old one is gone.
  VideoWidget* Widget() {
    if (!widget) {
      widget = new VideoWidget(slot);
      widget->setWindowTitle(QString::fromStdU16String(caption));
      widget->SetDrain(drain.data());
    }
    return widget.data();
  }

  // A child of the owner with WS_CHILD, otherwise a window of its own (kept above
  // the owner when there is one). Visibility is kept across the move.
  void Reparent() {
    VideoWidget* w = Widget();
    QWidget* parent = owner.data();
    const bool child = parent && (style & WS_CHILD);
    if (w->parentWidget() == parent && w->isWindow() == !child) return;
    const bool shown = !w->isHidden();
    w->setParent(parent, child ? Qt::Widget : Qt::Window);
    if (shown) w->show();
  }
};

VideoRenderer::VideoRenderer()
    : ComExtends(CLSID_VideoRenderer),
      stream_(std::make_shared<Stream>()),
      window_(std::make_unique<Window>()) {
  RequireWindowThread("VideoRenderer");
  EnsureGStreamer();

  GstElement* bin = GST_ELEMENT(g_object_new(RendererBinType(), nullptr));
  g_object_set_qdata_full(
      G_OBJECT(bin), SlotQuark(), new std::shared_ptr<FrameSlot>(stream_->slot),
      [](gpointer data) { delete static_cast<std::shared_ptr<FrameSlot>*>(data); });
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (!sink) qFatal("VideoRenderer: the GStreamer element appsink is not installed");
  // I420, as the decoders give it, needs no converter in front: the widget
  // converts only the pixels it shows. Anything else comes through a converter as BGRx.
  const GstCapsRef caps =
      GstCapsRef::Adopt(gst_caps_from_string("video/x-raw,format={ I420, BGRx }"));
  // No clock waits and no preroll on the way to the screen; a frame the window
  // has not taken yet is dropped for a newer one.
  g_object_set(sink, "caps", caps.get(), "sync", FALSE, "async", FALSE, "max-buffers", 1u, "drop",
               TRUE, "enable-last-sample", FALSE, "qos", FALSE, nullptr);
  gst_bin_add(GST_BIN(bin), sink);
  const GstPadRef target = GstPadRef::Adopt(gst_element_get_static_pad(sink, "sink"));
  gst_pad_add_probe(target.get(), GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, OnSinkQuery, nullptr,
                    nullptr);
  gst_element_add_pad(bin, gst_ghost_pad_new("in", target.get()));

  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &Stream::OnNewSample;
  gst_app_sink_set_callbacks(
      GST_APP_SINK(sink), &callbacks, new std::shared_ptr<Stream>(stream_),
      [](gpointer data) { delete static_cast<std::shared_ptr<Stream>*>(data); });
  SetElement(bin);

  {
    std::lock_guard lock(stream_->filter_mutex);
    stream_->filter = this;
  }
  window_->slot = stream_->slot;
  window_->Widget();
}

VideoRenderer::~VideoRenderer() {
  {
    std::lock_guard lock(stream_->filter_mutex);
    stream_->filter = nullptr;
  }
  // The widget goes on its own thread (a last reference may be dropped elsewhere).
  if (OnWindowThread()) {
    delete window_->widget.data();
  } else if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(
        app, [widget = window_->widget] { delete widget.data(); }, Qt::QueuedConnection);
  }
}

HRESULT VideoRenderer::put_Owner(OAHWND owner) {
  RequireWindowThread("put_Owner");
  window_->owner = WidgetOf(owner);
  window_->Reparent();
  return S_OK;
}

HRESULT VideoRenderer::get_Owner(OAHWND* owner) {
  RequireWindowThread("get_Owner");
  if (!owner) return E_POINTER;
  *owner = HandleOf(window_->owner.data());
  return S_OK;
}

HRESULT VideoRenderer::put_WindowStyle(LONG style) {
  RequireWindowThread("put_WindowStyle");
  window_->style = style;
  window_->Reparent();
  window_->Widget()->setVisible((style & WS_VISIBLE) != 0);
  return S_OK;
}

HRESULT VideoRenderer::get_WindowStyle(LONG* style) {
  RequireWindowThread("get_WindowStyle");
  if (!style) return E_POINTER;
  const bool shown = !window_->Widget()->isHidden();
  *style = (window_->style & ~WS_VISIBLE) | (shown ? WS_VISIBLE : 0);
  return S_OK;
}

HRESULT VideoRenderer::put_WindowStyleEx(LONG style) {
  RequireWindowThread("put_WindowStyleEx");
  window_->style_ex = style;
  return S_OK;
}

HRESULT VideoRenderer::get_WindowStyleEx(LONG* style) {
  RequireWindowThread("get_WindowStyleEx");
  if (!style) return E_POINTER;
  *style = window_->style_ex;
  return S_OK;
}

HRESULT VideoRenderer::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  RequireWindowThread("SetWindowPosition");
  if (width < 0 || height < 0) return E_INVALIDARG;
  window_->Widget()->setGeometry(left, top, width, height);
  return S_OK;
}

HRESULT VideoRenderer::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  RequireWindowThread("GetWindowPosition");
  if (!left || !top || !width || !height) return E_POINTER;
  const QRect geometry = window_->Widget()->geometry();
  *left = geometry.left();
  *top = geometry.top();
  *width = geometry.width();
  *height = geometry.height();
  return S_OK;
}

HRESULT VideoRenderer::put_Caption(const WCHAR* caption) {
  RequireWindowThread("put_Caption");
  if (!caption) return E_POINTER;
  window_->caption = caption;
  window_->Widget()->setWindowTitle(QString::fromStdU16String(window_->caption));
  return S_OK;
}

HRESULT VideoRenderer::get_Caption(BSTR* caption) {
  RequireWindowThread("get_Caption");
  if (!caption) return E_POINTER;
  *caption = SysAllocString(window_->caption.c_str());
  return *caption ? S_OK : E_OUTOFMEMORY;
}

HRESULT VideoRenderer::put_MessageDrain(OAHWND drain) {
  RequireWindowThread("put_MessageDrain");
  window_->drain = WidgetOf(drain);
  window_->Widget()->SetDrain(window_->drain.data());
  return S_OK;
}

HRESULT VideoRenderer::get_MessageDrain(OAHWND* drain) {
  RequireWindowThread("get_MessageDrain");
  if (!drain) return E_POINTER;
  *drain = HandleOf(window_->drain.data());
  return S_OK;
}

HRESULT VideoRenderer::put_Visible(LONG visible) {
  RequireWindowThread("put_Visible");
  window_->Widget()->setVisible(visible != OAFALSE);
  return S_OK;
}

HRESULT VideoRenderer::get_Visible(LONG* visible) {
  RequireWindowThread("get_Visible");
  if (!visible) return E_POINTER;
  *visible = window_->Widget()->isHidden() ? OAFALSE : OATRUE;
  return S_OK;
}

OAHWND VideoRenderer::WidgetHandle() {
  RequireWindowThread("WidgetHandle");
  return HandleOf(window_->Widget());
}

OAHWND VideoRendererWidgetForTesting(IUnknown* renderer) {
  if (!renderer) return 0;
  ComPtr<IVideoWindow> window;
  if (FAILED(renderer->QueryInterface(IVideoWindow::iid, window.ReleaseAndGetVoidAddress())))
    return 0;
  auto* video_renderer = dynamic_cast<VideoRenderer*>(window.Get());
  return video_renderer ? video_renderer->WidgetHandle() : 0;
}

void RegisterVideoRendererClass() {
  RegisterClass(CLSID_VideoRenderer, "Video Renderer", [](REFIID riid, void** object) -> HRESULT {
    if (!object) return E_POINTER;
    *object = nullptr;
    // Without a window system there is nothing to paint into.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
    auto renderer = MakeComObject<VideoRenderer>();
    return renderer->QueryInterface(riid, object);
  });
}
