#include "platform/dshow/graph_events.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dshow_test_filters.h"
#include "platform/dshow/event_queue.h"

namespace {

using namespace dshow_test;

class GraphEventsTest : public DshowTest {};

GstMessageRef ErrorFrom(GstElement* source, GQuark domain, gint code, bool warning = false,
                        GstStructure* details = nullptr) {
  GError* error = g_error_new_literal(domain, code, "message");
  GstMessage* message =
      warning ? gst_message_new_warning_with_details(GST_OBJECT(source), error, "debug", details)
              : gst_message_new_error_with_details(GST_OBJECT(source), error, "debug", details);
  g_error_free(error);
  return GstMessageRef::Adopt(message);
}

std::string Text(const std::optional<GraphEvent>& event) {
  if (!event) return "not queued";
  char text[64];
  std::snprintf(text, sizeof text, "%d,%08X,%d", event->code,
                static_cast<unsigned>(event->param1), event->param2);
  return text;
}

TEST_F(GraphEventsTest, GraphEventOf_MapsMessagesAsTheTableSays) {
  const GstElementRef camera = AdoptFloating(gst_element_factory_make("v4l2src", nullptr));
  if (!camera) GTEST_SKIP() << "v4l2src is not installed";
  const GstElementRef pattern = AdoptFloating(gst_element_factory_make("videotestsrc", nullptr));
  const GstElementRef encoder = AdoptFloating(gst_element_factory_make("avenc_mpeg4", nullptr));
  const GstElementRef pipeline = AdoptFloating(gst_pipeline_new(nullptr));
  GstObject* from_pipeline = GST_OBJECT(pipeline.get());

  struct Case {
    const char* what;
    GstMessageRef message;
    const char* expected;
  };
  const Case cases[] = {
      {"camera unplugged while reading",
       ErrorFrom(camera.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ), "31,00000000,0"},
      {"camera gone before opening",
       ErrorFrom(camera.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND), "31,00000000,0"},
      {"camera cannot be opened",
       ErrorFrom(camera.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ_WRITE),
       "31,00000000,0"},
      {"camera busy is no loss",
       ErrorFrom(camera.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY), "3,80004005,0"},
      {"read error of a test pattern",
       ErrorFrom(pattern.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ), "3,80004005,0"},
      {"stream stopped",
       ErrorFrom(pattern.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, false,
                 gst_structure_new("details", "flow-return", G_TYPE_INT, GST_FLOW_ERROR, nullptr)),
       "3,80040301,0"},
      {"stream not negotiated",
       ErrorFrom(pattern.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, false,
                 gst_structure_new("details", "flow-return", G_TYPE_INT, GST_FLOW_NOT_NEGOTIATED,
                                   nullptr)),
       "3,80040207,0"},
      {"undecodable input", ErrorFrom(encoder.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE),
       "3,80040200,0"},
      {"negotiation", ErrorFrom(encoder.get(), GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION),
       "3,80040207,0"},
      {"not implemented", ErrorFrom(encoder.get(), GST_CORE_ERROR, GST_CORE_ERROR_NOT_IMPLEMENTED),
       "3,80004001,0"},
      {"warning", ErrorFrom(encoder.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_ENCODE, true),
       "7,80040200,0"},
      {"warning of a camera",
       ErrorFrom(camera.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, true), "7,80004005,0"},
      {"end of stream", GstMessageRef::Adopt(gst_message_new_eos(from_pipeline)), "1,00000000,0"},
      {"filter's own event",
       GstMessageRef::Adopt(gst_message_new_element(
           GST_OBJECT(encoder.get()),
           gst_structure_new(kGraphEventMessage, "code", G_TYPE_INT, EC_VIDEO_SIZE_CHANGED,
                             "param1", G_TYPE_INT, 0x00F00140, "param2", G_TYPE_INT, -2,
                             nullptr))),
       "10,00F00140,-2"},
      {"filter's event without code",
       GstMessageRef::Adopt(gst_message_new_element(
           GST_OBJECT(encoder.get()), gst_structure_new(kGraphEventMessage, "param1",
                                                        G_TYPE_INT, 1, nullptr))),
       "not queued"},
      {"other element message",
       GstMessageRef::Adopt(gst_message_new_element(
           GST_OBJECT(encoder.get()), gst_structure_new("GstVideoEncoder", "code", G_TYPE_INT,
                                                        1, nullptr))),
       "not queued"},
      {"state change",
       GstMessageRef::Adopt(gst_message_new_state_changed(from_pipeline, GST_STATE_NULL,
                                                          GST_STATE_READY,
                                                          GST_STATE_VOID_PENDING)),
       "not queued"},
      {"latency", GstMessageRef::Adopt(gst_message_new_latency(from_pipeline)), "not queued"},
      {"async done",
       GstMessageRef::Adopt(gst_message_new_async_done(from_pipeline, GST_CLOCK_TIME_NONE)),
       "not queued"},
      {"stream start", GstMessageRef::Adopt(gst_message_new_stream_start(from_pipeline)),
       "not queued"},
      {"buffering", GstMessageRef::Adopt(gst_message_new_buffering(from_pipeline, 50)),
       "not queued"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Text(GraphEventOf(c.message.get())), c.expected) << c.what;
  }
}

TEST_F(GraphEventsTest, IsCaptureDeviceSource_OnlyForVideoSourcesOpenedByDevice) {
  const struct {
    const char* factory;
    bool expected;
  } cases[] = {{"v4l2src", true}, {"videotestsrc", false}, {"filesrc", false},
               {"fakesink", false}};
  for (const auto& c : cases) {
    const GstElementRef element = AdoptFloating(gst_element_factory_make(c.factory, nullptr));
    if (!element) continue;  // not installed here
    EXPECT_EQ(IsCaptureDeviceSource(GST_OBJECT(element.get())), c.expected) << c.factory;
  }
  EXPECT_FALSE(IsCaptureDeviceSource(nullptr));
}

TEST_F(GraphEventsTest, EventQueue_TakesOldestFirstAndAbortsWhenEmpty) {
  EventQueue queue;
  GraphEvent event{7, 7, 7};
  EXPECT_EQ(queue.Take(0, &event), E_ABORT);
  EXPECT_EQ(event, GraphEvent{});
  EXPECT_EQ(queue.Take(5, &event), E_ABORT);  // waits a little, finds nothing
  queue.Push({EC_COMPLETE, 0, 0});
  queue.Push({EC_ERRORABORT, E_FAIL, 0});
  EXPECT_EQ(queue.Take(0, &event), S_OK);
  EXPECT_EQ(event, (GraphEvent{EC_COMPLETE, 0, 0}));
  EXPECT_EQ(queue.Take(-1, &event), S_OK);
  EXPECT_EQ(event, (GraphEvent{EC_ERRORABORT, E_FAIL, 0}));
  EXPECT_EQ(queue.Take(0, &event), E_ABORT);
}

}  // namespace
