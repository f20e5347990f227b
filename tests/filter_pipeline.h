#pragma once

#include <gst/gst.h>

#include "platform/dshow/gst_filter.h"

// A GStreamer pipeline around one filter's element and what a test puts next
// to it; the filter's element is taken out again when the pipeline goes, so the
// filter outlives it as the graph would leave it.
class FilterPipeline {
 public:
  explicit FilterPipeline(IBaseFilter* filter) : filter_(ElementOfFilter(filter)) {
    pipeline_ = gst_pipeline_new(nullptr);
    gst_bin_add(GST_BIN(pipeline_), filter_);
  }
  ~FilterPipeline() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_), filter_);
    gst_object_unref(pipeline_);
  }
  FilterPipeline(const FilterPipeline&) = delete;
  FilterPipeline& operator=(const FilterPipeline&) = delete;

  GstElement* Add(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    gst_bin_add(GST_BIN(pipeline_), element);
    return element;
  }
  // Asks for PLAYING; a live element may finish the change later.
  bool Play() {
    return gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  }
  // Asks for PLAYING and waits (boundedly) until the change has finished.
  bool PlayAndSettle() {
    return Play() && gst_element_get_state(pipeline_, nullptr, nullptr, 5 * GST_SECOND) !=
                         GST_STATE_CHANGE_FAILURE;
  }
  void Stop() { gst_element_set_state(pipeline_, GST_STATE_NULL); }
  GstState State() {
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_, &state, nullptr, 0);
    return state;
  }
  // Waits (boundedly) until the stream has ended; false on an error or no end.
  bool WaitForEndOfStream() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ended = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message) gst_message_unref(message);
    gst_object_unref(bus);
    return ended;
  }
  GstElement* filter() const { return filter_; }

 private:
  GstElement* pipeline_;
  GstElement* filter_;  // borrowed from the filter
};
