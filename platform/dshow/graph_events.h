#pragma once

#include <gst/gst.h>

#include <optional>

#include "platform/dshow/graph.h"

// What a message on a graph's bus means to the graph's event queue.

struct GraphEvent {
  LONG code = 0;
  LONG param1 = 0;
  LONG param2 = 0;
  friend bool operator==(const GraphEvent&, const GraphEvent&) = default;
};

// The event that `message` becomes, or none for the messages the graph handles
// itself (the table in graph_events.cpp). Pure: no state, callable on any thread.
std::optional<GraphEvent> GraphEventOf(GstMessage* message);

// The status an error or warning reads as: derived from the GError's domain and
// code (and the flow return a stopped stream reports in the message's details),
// E_FAIL where nothing closer fits. Always a failure.
HRESULT StatusOfError(const GError* error, const GstStructure* details);

// True for the source element of a video capture device (v4l2src and its kind:
// a video source that is opened by device).
bool IsCaptureDeviceSource(GstObject* object);
