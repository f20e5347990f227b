#include "filters/camera.h"

#include <gst/video/colorbalance.h>

#include <algorithm>

#include "filters/filter_classes.h"
#include "filters/property_pages.h"

namespace {

// The first structure is what we want; the second takes whatever the device has.
constexpr const char* kPreferredCaps =
    "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)30/1; video/x-raw";

GstCapsRef CapsFor(const CameraFormat& format) {
  if (format.pixel_format.empty()) return GstCapsRef::Adopt(gst_caps_from_string(kPreferredCaps));
  return GstCapsRef::Adopt(gst_caps_new_simple(
      "video/x-raw", "format", G_TYPE_STRING, format.pixel_format.c_str(), "width", G_TYPE_INT,
      format.width, "height", G_TYPE_INT, format.height, "framerate", GST_TYPE_FRACTION,
      format.rate_numerator, format.rate_denominator, nullptr));
}

// Each value of a field that is one value or a list of them.
std::vector<const GValue*> ValuesOf(const GValue* value) {
  std::vector<const GValue*> values;
  if (!value) return values;
  if (GST_VALUE_HOLDS_LIST(value)) {
    for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
      values.push_back(gst_value_list_get_value(value, i));
    }
  } else {
    values.push_back(value);
  }
  return values;
}

struct Rate {
  int numerator;
  int denominator;
};

std::vector<Rate> RatesOf(const GValue* field) {
  std::vector<Rate> rates;
  for (const GValue* value : ValuesOf(field)) {
    if (GST_VALUE_HOLDS_FRACTION(value)) {
      rates.push_back({gst_value_get_fraction_numerator(value),
                       gst_value_get_fraction_denominator(value)});
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
      // A device with a continuous range: its fastest and its slowest rate.
      for (const GValue* end :
           {gst_value_get_fraction_range_max(value), gst_value_get_fraction_range_min(value)}) {
        rates.push_back({gst_value_get_fraction_numerator(end),
                         gst_value_get_fraction_denominator(end)});
      }
    }
  }
  std::erase_if(rates, [](const Rate& r) { return r.numerator <= 0 || r.denominator <= 0; });
  return rates;
}

// Answers `riid` on a new camera; REGDB_E_CLASSNOTREG without GStreamer's V4L2 source.
HRESULT Create(CaptureDevice device, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto camera = MakeComObject<V4l2Camera>(std::move(device));
  if (!camera->IsComplete()) return REGDB_E_CLASSNOTREG;
  return camera->QueryInterface(riid, object);
}

}  // namespace

V4l2Camera::V4l2Camera(CaptureDevice device)
    : ComExtends(CLSID_V4l2Camera), device_(std::move(device)) {
  EnsureGStreamer();
  GstElement* bin = gst_bin_new(nullptr);
  GstElement* source = gst_element_factory_make("v4l2src", nullptr);
  GstElement* caps_filter = gst_element_factory_make("capsfilter", nullptr);
  if (source && caps_filter) {
    gst_bin_add_many(GST_BIN(bin), source, caps_filter, nullptr);
    g_object_set(source, "device", device_.path.c_str(), nullptr);
    GstCapsRef caps = CapsFor(format_);
    g_object_set(caps_filter, "caps", caps.get(), nullptr);
    if (gst_element_link(source, caps_filter)) {
      GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(caps_filter, "src"));
      gst_element_add_pad(bin, gst_ghost_pad_new("out", src.get()));
      source_ = source;
      caps_filter_ = caps_filter;
      complete_ = true;
    }
  } else {
    if (source) gst_object_unref(gst_object_ref_sink(source));
    if (caps_filter) gst_object_unref(gst_object_ref_sink(caps_filter));
  }
  SetElement(bin);
}

V4l2Camera::~V4l2Camera() = default;

bool V4l2Camera::IsStopped() {
  GstState current = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  gst_element_get_state(Element(), &current, &pending, 0);
  return current <= GST_STATE_READY && pending <= GST_STATE_READY;
}

GstElementRef V4l2Camera::OpenSource() {
  if (!complete_) return {};
  GstState current = GST_STATE_VOID_PENDING;
  gst_element_get_state(source_, &current, nullptr, 0);
  if (current >= GST_STATE_READY) return GstElementRef::Share(source_);
  // A source of its own, outside the graph: a device that cannot be opened then
  // tells nobody but us, and the filter's element stays as the graph left it.
  GstElementRef probe = AdoptFloating(gst_element_factory_make("v4l2src", nullptr));
  if (!probe) return {};
  g_object_set(probe.get(), "device", device_.path.c_str(), nullptr);
  if (gst_element_set_state(probe.get(), GST_STATE_READY) != GST_STATE_CHANGE_SUCCESS) {
    gst_element_set_state(probe.get(), GST_STATE_NULL);
    return {};
  }
  return probe;
}

namespace {

// Closes a source opened for a question (not the filter's own).
class OpenedSource {
 public:
  OpenedSource(GstElementRef source, GstElement* own) : source_(std::move(source)), own_(own) {}
  ~OpenedSource() {
    if (source_ && source_.get() != own_) gst_element_set_state(source_.get(), GST_STATE_NULL);
  }
  OpenedSource(const OpenedSource&) = delete;
  OpenedSource& operator=(const OpenedSource&) = delete;
  GstElement* get() const { return source_.get(); }

 private:
  GstElementRef source_;
  GstElement* own_;
};

}  // namespace

HRESULT V4l2Camera::GetDevice(CaptureDevice* device) {
  if (!device) return E_POINTER;
  *device = device_;
  return S_OK;
}

HRESULT V4l2Camera::GetFormats(std::vector<CameraFormat>* formats) {
  if (!formats) return E_POINTER;
  formats->clear();
  const OpenedSource source(OpenSource(), source_);
  if (!source.get()) return E_FAIL;
  GstPadRef pad = GstPadRef::Adopt(gst_element_get_static_pad(source.get(), "src"));
  GstCapsRef caps = GstCapsRef::Adopt(gst_pad_query_caps(pad.get(), nullptr));
  *formats = RawFormatsOf(caps.get());
  return S_OK;
}

HRESULT V4l2Camera::GetFormat(CameraFormat* format) {
  if (!format) return E_POINTER;
  *format = format_;
  return format_.pixel_format.empty() ? S_FALSE : S_OK;
}

HRESULT V4l2Camera::SetFormat(const CameraFormat& format) {
  if (!format.pixel_format.empty() &&
      (format.width <= 0 || format.height <= 0 || format.rate_numerator <= 0 ||
       format.rate_denominator <= 0)) {
    return E_INVALIDARG;
  }
  if (!complete_) return E_UNEXPECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  format_ = format.pixel_format.empty() ? CameraFormat{} : format;
  GstCapsRef caps = CapsFor(format_);
  g_object_set(caps_filter_, "caps", caps.get(), nullptr);
  return S_OK;
}

HRESULT V4l2Camera::GetControls(std::vector<CameraControl>* controls) {
  if (!controls) return E_POINTER;
  controls->clear();
  const OpenedSource source(OpenSource(), source_);
  if (!source.get()) return E_FAIL;
  if (!GST_IS_COLOR_BALANCE(source.get())) return S_OK;
  GstColorBalance* balance = GST_COLOR_BALANCE(source.get());
  for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
    auto* channel = static_cast<GstColorBalanceChannel*>(item->data);
    controls->push_back({channel->label ? channel->label : "", channel->min_value,
                         channel->max_value, gst_color_balance_get_value(balance, channel)});
  }
  return S_OK;
}

HRESULT V4l2Camera::SetControl(const std::string& name, std::int32_t value) {
  const OpenedSource source(OpenSource(), source_);
  if (!source.get()) return E_FAIL;
  if (!GST_IS_COLOR_BALANCE(source.get())) return E_INVALIDARG;
  GstColorBalance* balance = GST_COLOR_BALANCE(source.get());
  for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
    auto* channel = static_cast<GstColorBalanceChannel*>(item->data);
    if (!channel->label || name != channel->label) continue;
    if (value < channel->min_value || value > channel->max_value) return E_INVALIDARG;
    gst_color_balance_set_value(balance, channel, value);
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT V4l2Camera::GetPages(CAUUID* pages) { return PageList({CLSID_CameraPage}, pages); }

HRESULT CreateV4l2Camera(const std::string& device_path, REFIID riid, void** object) {
  CaptureDevice device;
  device.path = device_path;
  device.captures_video = true;
  return Create(std::move(device), riid, object);
}

HRESULT CreateV4l2Camera(const CaptureDevice& device, REFIID riid, void** object) {
  return Create(device, riid, object);
}

HRESULT ResolveCameraDisplayName(std::u16string_view display_name, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!ParseUsbDisplayName(display_name)) return MK_E_SYNTAX;
  const auto device = MatchCaptureDevice(display_name, CurrentCaptureDevices());
  if (!device) return MK_E_NOOBJECT;
  return CreateV4l2Camera(*device, riid, object);
}

std::vector<CameraFormat> RawFormatsOf(const GstCaps* caps) {
  std::vector<CameraFormat> formats;
  if (!caps || gst_caps_is_any(caps)) return formats;
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    if (!gst_structure_has_name(s, "video/x-raw")) continue;
    int width = 0;
    int height = 0;
    if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height)) {
      continue;  // a range of sizes: nothing to offer one by one
    }
    const std::vector<Rate> rates = RatesOf(gst_structure_get_value(s, "framerate"));
    for (const GValue* value : ValuesOf(gst_structure_get_value(s, "format"))) {
      if (!G_VALUE_HOLDS_STRING(value)) continue;
      for (const Rate& rate : rates) {
        CameraFormat format{g_value_get_string(value), width, height, rate.numerator,
                            rate.denominator};
        if (std::find(formats.begin(), formats.end(), format) == formats.end()) {
          formats.push_back(std::move(format));
        }
      }
    }
  }
  return formats;
}
