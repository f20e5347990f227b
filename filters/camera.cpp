#include "filters/camera.h"

#include "filters/camera_devices.h"
#include "filters/filter_classes.h"

namespace {

// The first structure is what we want; the second takes whatever the device has.
constexpr const char* kPreferredCaps =
    "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)30/1; video/x-raw";

}  // namespace

V4l2Camera::V4l2Camera(std::string device_path)
    : GstFilter(CLSID_V4l2Camera), device_path_(std::move(device_path)) {
  EnsureGStreamer();
  GstElement* bin = gst_bin_new(nullptr);
  GstElement* source = gst_element_factory_make("v4l2src", nullptr);
  GstElement* caps_filter = gst_element_factory_make("capsfilter", nullptr);
  if (source && caps_filter) {
    gst_bin_add_many(GST_BIN(bin), source, caps_filter, nullptr);
    g_object_set(source, "device", device_path_.c_str(), nullptr);
    GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(kPreferredCaps));
    g_object_set(caps_filter, "caps", caps.get(), nullptr);
    if (gst_element_link(source, caps_filter)) {
      GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(caps_filter, "src"));
      gst_element_add_pad(bin, gst_ghost_pad_new("out", src.get()));
      complete_ = true;
    }
  } else {
    if (source) gst_object_unref(gst_object_ref_sink(source));
    if (caps_filter) gst_object_unref(gst_object_ref_sink(caps_filter));
  }
  SetElement(bin);
}

V4l2Camera::~V4l2Camera() = default;

HRESULT CreateV4l2Camera(const std::string& device_path, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto camera = MakeComObject<V4l2Camera>(device_path);
  if (!camera->IsComplete()) return REGDB_E_CLASSNOTREG;
  return camera->QueryInterface(riid, object);
}

HRESULT ResolveCameraDisplayName(std::u16string_view display_name, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!ParseUsbDisplayName(display_name)) return MK_E_SYNTAX;
  const auto device = MatchCaptureDevice(display_name, CurrentCaptureDevices());
  if (!device) return MK_E_NOOBJECT;
  return CreateV4l2Camera(device->path, riid, object);
}
