#include "platform/dshow/graph_events.h"

#include <cstring>

// Messages on the graph's bus and what becomes of them.
//
// | GStreamer message                      | queued event (code, param1, param2)               |
// |----------------------------------------|---------------------------------------------------|
// | ERROR from a video capture device's    | EC_DEVICE_LOST, 0, 0 (the device vanished or      |
// |   source (v4l2src …): resource         |   cannot be opened: not found, open, read)         |
// |   not-found, open-read(-write), read   |                                                   |
// | ERROR, any other                       | EC_ERRORABORT, status (StatusOfError), 0          |
// | WARNING                                | EC_STREAM_ERROR_STILLPLAYING, status, 0           |
// | EOS (the pipeline's: every sink done)  | EC_COMPLETE, S_OK, 0                              |
// | ELEMENT named kGraphEventMessage       | its "code", "param1", "param2" as given            |
// |   (filters' own events, e.g. the       |   (a message without "code" is dropped)            |
// |   renderer's EC_VIDEO_SIZE_CHANGED)    |                                                   |
//
// Handled by the graph itself and never queued:
// | LATENCY         | the graph recalculates and redistributes the pipeline's latency     |
// |                 |   (on GStreamer's own thread pool, not on the streaming thread)     |
// | STATE_CHANGED   | the pipeline's own: the published topology is written again         |
// | ASYNC_DONE, ASYNC_START, STREAM_START, STREAM_STATUS, NEW_CLOCK, CLOCK_PROVIDE,    |
// | CLOCK_LOST, QOS, TAG, BUFFERING, DURATION_CHANGED, PROGRESS, NEED_CONTEXT,          |
// | HAVE_CONTEXT, other ELEMENT messages and the rest: nothing to do. The pipeline runs |
// | live sources on the system clock, which is never lost, and buffers nothing that     |
// | would need pausing; the states themselves are read back through GetState.          |

namespace {

// GError codes that say a stream carries something its element cannot handle.
bool IsFormatError(const GError* error) {
  if (error->domain != GST_STREAM_ERROR) return false;
  switch (error->code) {
    case GST_STREAM_ERROR_FORMAT:
    case GST_STREAM_ERROR_WRONG_TYPE:
    case GST_STREAM_ERROR_TYPE_NOT_FOUND:
    case GST_STREAM_ERROR_CODEC_NOT_FOUND:
    case GST_STREAM_ERROR_DECODE:
    case GST_STREAM_ERROR_ENCODE:
    case GST_STREAM_ERROR_DEMUX:
    case GST_STREAM_ERROR_MUX:
      return true;
    default:
      return false;
  }
}

bool IsDeviceGoneError(const GError* error) {
  if (error->domain != GST_RESOURCE_ERROR) return false;
  switch (error->code) {
    case GST_RESOURCE_ERROR_NOT_FOUND:
    case GST_RESOURCE_ERROR_OPEN_READ:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
    case GST_RESOURCE_ERROR_READ:
      return true;
    default:
      return false;
  }
}

LONG IntField(const GstStructure* structure, const char* field) {
  gint value = 0;
  gst_structure_get_int(structure, field, &value);
  return value;
}

std::optional<GraphEvent> EventOfError(GstMessage* message) {
  GError* error = nullptr;
  gst_message_parse_error(message, &error, nullptr);
  const GstStructure* details = nullptr;
  gst_message_parse_error_details(message, &details);
  std::optional<GraphEvent> event;
  if (error && IsDeviceGoneError(error) && IsCaptureDeviceSource(GST_MESSAGE_SRC(message))) {
    event = GraphEvent{EC_DEVICE_LOST, 0, 0};
  } else {
    event = GraphEvent{EC_ERRORABORT, StatusOfError(error, details), 0};
  }
  if (error) g_error_free(error);
  return event;
}

std::optional<GraphEvent> EventOfWarning(GstMessage* message) {
  GError* error = nullptr;
  gst_message_parse_warning(message, &error, nullptr);
  const GstStructure* details = nullptr;
  gst_message_parse_warning_details(message, &details);
  const GraphEvent event{EC_STREAM_ERROR_STILLPLAYING, StatusOfError(error, details), 0};
  if (error) g_error_free(error);
  return event;
}

std::optional<GraphEvent> EventOfElementMessage(GstMessage* message) {
  const GstStructure* structure = gst_message_get_structure(message);
  if (!structure || !gst_structure_has_name(structure, kGraphEventMessage)) return std::nullopt;
  gint code = 0;
  if (!gst_structure_get_int(structure, "code", &code)) return std::nullopt;
  return GraphEvent{code, IntField(structure, "param1"), IntField(structure, "param2")};
}

}  // namespace

HRESULT StatusOfError(const GError* error, const GstStructure* details) {
  if (!error) return E_FAIL;
  if (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FAILED) {
    // A stream that stopped says why in its details ("flow-return").
    gint flow = GST_FLOW_ERROR;
    if (details && gst_structure_get_int(details, "flow-return", &flow) &&
        flow == GST_FLOW_NOT_NEGOTIATED) {
      return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    return VFW_E_STREAM_FAILED;
  }
  if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NEGOTIATION) {
    return VFW_E_NO_ACCEPTABLE_TYPES;
  }
  if (IsFormatError(error)) return VFW_E_INVALIDMEDIATYPE;
  if ((error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NOT_IMPLEMENTED) ||
      (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_NOT_IMPLEMENTED)) {
    return E_NOTIMPL;
  }
  if (error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT) {
    return E_OUTOFMEMORY;
  }
  return E_FAIL;
}

bool IsCaptureDeviceSource(GstObject* object) {
  if (!object || !GST_IS_ELEMENT(object)) return false;
  GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(object));
  if (!factory) return false;
  const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
  if (!klass || !std::strstr(klass, "Source") || !std::strstr(klass, "Video")) return false;
  // A test pattern is a video source too; a capture device is opened by device.
  return g_object_class_find_property(G_OBJECT_GET_CLASS(object), "device") != nullptr;
}

std::optional<GraphEvent> GraphEventOf(GstMessage* message) {
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
      return EventOfError(message);
    case GST_MESSAGE_WARNING:
      return EventOfWarning(message);
    case GST_MESSAGE_EOS:
      // Bins hold back their sinks' EOS; the bus sees only the pipeline's own.
      return GraphEvent{EC_COMPLETE, S_OK, 0};
    case GST_MESSAGE_ELEMENT:
      return EventOfElementMessage(message);
    default:
      return std::nullopt;
  }
}
