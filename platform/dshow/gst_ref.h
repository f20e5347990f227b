#pragma once

#include <gst/gst.h>

#include <utility>

// Small owners for GStreamer and GLib handles. The factory names say whether the
// owner adopts a reference the caller already holds or takes a new one.

template <class T, void (*Unref)(T*), T* (*Ref)(T*)>
class GstHandle {
 public:
  GstHandle() = default;
  GstHandle(const GstHandle& other) : p_(other.p_ ? Ref(other.p_) : nullptr) {}
  GstHandle(GstHandle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  GstHandle& operator=(GstHandle other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~GstHandle() { Reset(); }

  // Takes over a reference the caller owns (a full, non-floating one).
  static GstHandle Adopt(T* p) {
    GstHandle h;
    h.p_ = p;
    return h;
  }
  // Takes a new reference of its own.
  static GstHandle Share(T* p) { return Adopt(p ? Ref(p) : nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* release() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) Unref(p);
  }

 private:
  T* p_ = nullptr;
};

namespace gst_ref_detail {
inline void UnrefObject(GstObject* o) { gst_object_unref(o); }
inline GstObject* RefObject(GstObject* o) { return static_cast<GstObject*>(gst_object_ref(o)); }
inline void UnrefElement(GstElement* e) { gst_object_unref(e); }
inline GstElement* RefElement(GstElement* e) { return GST_ELEMENT(gst_object_ref(e)); }
inline void UnrefPad(GstPad* p) { gst_object_unref(p); }
inline GstPad* RefPad(GstPad* p) { return GST_PAD(gst_object_ref(p)); }
inline void UnrefBus(GstBus* b) { gst_object_unref(b); }
inline GstBus* RefBus(GstBus* b) { return GST_BUS(gst_object_ref(b)); }
inline void UnrefCaps(GstCaps* c) { gst_caps_unref(c); }
inline GstCaps* RefCaps(GstCaps* c) { return gst_caps_ref(c); }
inline void UnrefSample(GstSample* s) { gst_sample_unref(s); }
inline GstSample* RefSample(GstSample* s) { return gst_sample_ref(s); }
inline void UnrefBuffer(GstBuffer* b) { gst_buffer_unref(b); }
inline GstBuffer* RefBuffer(GstBuffer* b) { return gst_buffer_ref(b); }
inline void UnrefMessage(GstMessage* m) { gst_message_unref(m); }
inline GstMessage* RefMessage(GstMessage* m) { return gst_message_ref(m); }
}  // namespace gst_ref_detail

using GstElementRef =
    GstHandle<GstElement, gst_ref_detail::UnrefElement, gst_ref_detail::RefElement>;
using GstPadRef = GstHandle<GstPad, gst_ref_detail::UnrefPad, gst_ref_detail::RefPad>;
using GstBusRef = GstHandle<GstBus, gst_ref_detail::UnrefBus, gst_ref_detail::RefBus>;
using GstCapsRef = GstHandle<GstCaps, gst_ref_detail::UnrefCaps, gst_ref_detail::RefCaps>;
using GstSampleRef = GstHandle<GstSample, gst_ref_detail::UnrefSample, gst_ref_detail::RefSample>;
using GstBufferRef = GstHandle<GstBuffer, gst_ref_detail::UnrefBuffer, gst_ref_detail::RefBuffer>;
using GstMessageRef =
    GstHandle<GstMessage, gst_ref_detail::UnrefMessage, gst_ref_detail::RefMessage>;

// A newly made element (floating) owned from here on: sinks the floating reference.
inline GstElementRef AdoptFloating(GstElement* element) {
  return element ? GstElementRef::Adopt(GST_ELEMENT(gst_object_ref_sink(element)))
                 : GstElementRef();
}

// Owners for plain GLib allocations.
struct GErrorOwner {
  GError* error = nullptr;
  GErrorOwner() = default;
  GErrorOwner(const GErrorOwner&) = delete;
  GErrorOwner& operator=(const GErrorOwner&) = delete;
  ~GErrorOwner() {
    if (error) g_error_free(error);
  }
  GError** out() { return &error; }
};

struct GCharOwner {
  gchar* text = nullptr;
  GCharOwner() = default;
  explicit GCharOwner(gchar* adopted) : text(adopted) {}
  GCharOwner(const GCharOwner&) = delete;
  GCharOwner& operator=(const GCharOwner&) = delete;
  ~GCharOwner() { g_free(text); }
  const char* c_str() const { return text ? text : ""; }
};

// gst_init once per process (safe from any thread).
void EnsureGStreamer();
