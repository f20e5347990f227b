#include "platform/dshow/filter_graph_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dshow_test_filters.h"
#include "platform/dshow/graph_events.h"

namespace {

using namespace dshow_test;

class FilterGraphTest : public DshowTest {};

std::string Events(IMediaEvent* events) {
  std::string text;
  LONG code, param1, param2;
  HRESULT taken;
  while ((taken = events->GetEvent(&code, &param1, &param2, 0)) == S_OK) {
    text += (text.empty() ? "" : " ") + std::to_string(code) + "," + std::to_string(param1) +
            "," + std::to_string(param2);
    EXPECT_EQ(events->FreeEventParams(code, param1, param2), S_OK);
  }
  EXPECT_EQ(taken, E_ABORT);
  return text;
}

TEST_F(FilterGraphTest, AddFilter_NamesFiltersAndNumbersDuplicates) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  struct Case {
    ComPtr<IBaseFilter> filter;
    const char16_t* name;
    HRESULT expected_status;
    const char* expected_name;
  };
  const Case cases[] = {
      {MakeElementFilter("identity"), u"Camera", S_OK, "Camera"},
      {MakeElementFilter("identity"), u"Camera", VFW_S_DUPLICATE_NAME, "Camera 0001"},
      {MakeComObject<RecordingFilter>(), u"Camera", VFW_S_DUPLICATE_NAME, "Camera 0002"},
      {MakeComObject<RecordingFilter>(), nullptr, S_OK, "Filter"},
      {MakeComObject<RecordingFilter>(), nullptr, S_OK, "Filter 0001"},
      {MakeElementFilter("videoconvert"), nullptr, S_OK, "Video colorspace converter"},
      {MakeElementFilter("identity"), u"", S_OK, "Identity"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(graph->AddFilter(c.filter.Get(), c.name), c.expected_status) << c.expected_name;
    EXPECT_EQ(NameOf(c.filter.Get()), c.expected_name);
  }
  EXPECT_EQ(FilterNames(graph.Get()),
            "Camera, Camera 0001, Camera 0002, Filter, Filter 0001, Video colorspace converter, Identity");

  for (const Case& c : cases) {
    ComPtr<IBaseFilter> found;
    const std::u16string name = Utf8ToUtf16(c.expected_name);
    EXPECT_EQ(graph->FindFilterByName(name.c_str(), found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(found, c.filter) << c.expected_name;
  }
  ComPtr<IBaseFilter> found;
  EXPECT_EQ(graph->FindFilterByName(u"Nobody", found.ReleaseAndGetAddressOf()),
            VFW_E_NOT_IN_GRAPH);
  EXPECT_FALSE(found);
  // GStreamer members stand in the pipeline under their graph names.
  EXPECT_STREQ(GST_OBJECT_NAME(ElementOfFilter(cases[1].filter.Get())), "Camera 0001");
}

TEST_F(FilterGraphTest, AddFilter_RefusesNullAndFiltersAlreadyInAGraph) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IGraphBuilder> other = MakeGraph();
  const ComPtr<IBaseFilter> filter = MakeElementFilter("identity");
  EXPECT_EQ(graph->AddFilter(nullptr, u"Nothing"), E_POINTER);
  EXPECT_EQ(FilterNames(graph.Get()), "");

  ASSERT_EQ(graph->AddFilter(filter.Get(), u"Once"), S_OK);
  EXPECT_EQ(graph->AddFilter(filter.Get(), u"Twice"), E_INVALIDARG);
  EXPECT_EQ(other->AddFilter(filter.Get(), u"Elsewhere"), E_INVALIDARG);
  EXPECT_EQ(FilterNames(graph.Get()), "Once");
  EXPECT_EQ(FilterNames(other.Get()), "");
  EXPECT_EQ(NameOf(filter.Get()), "Once");
}

TEST_F(FilterGraphTest, RemoveFilter_TakesTheFilterOutAndTellsIt) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<RecordingFilter> fake = MakeComObject<RecordingFilter>();
  const ComPtr<IBaseFilter> element = MakeElementFilter("identity");
  const ComPtr<IBaseFilter> stranger = MakeElementFilter("identity");
  ASSERT_EQ(graph->AddFilter(fake.Get(), u"Fake"), S_OK);
  ASSERT_EQ(graph->AddFilter(element.Get(), u"Element"), S_OK);
  EXPECT_NE(GST_OBJECT_PARENT(ElementOfFilter(element.Get())), nullptr);

  EXPECT_EQ(graph->RemoveFilter(fake.Get()), S_OK);
  EXPECT_EQ(graph->RemoveFilter(element.Get()), S_OK);
  EXPECT_EQ(fake->calls(), "JoinFilterGraph(graph, Fake) JoinFilterGraph(null, null)");
  EXPECT_EQ(GST_OBJECT_PARENT(ElementOfFilter(element.Get())), nullptr);
  EXPECT_EQ(NameOf(element.Get()), "");
  EXPECT_EQ(FilterNames(graph.Get()), "");

  const HRESULT again = graph->RemoveFilter(fake.Get());
  EXPECT_EQ(again, VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(graph->RemoveFilter(stranger.Get()), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(graph->RemoveFilter(nullptr), E_POINTER);
}

TEST_F(FilterGraphTest, EnumFilters_IsASnapshotInOrderOfAddition) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IBaseFilter> a = MakeComObject<RecordingFilter>();
  const ComPtr<IBaseFilter> b = MakeElementFilter("identity");
  const ComPtr<IBaseFilter> c = MakeComObject<RecordingFilter>();
  ASSERT_EQ(graph->AddFilter(a.Get(), u"A"), S_OK);
  ASSERT_EQ(graph->AddFilter(b.Get(), u"B"), S_OK);
  ASSERT_EQ(graph->AddFilter(c.Get(), u"C"), S_OK);

  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph->EnumFilters(filters.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(graph->RemoveFilter(b.Get()), S_OK);  // the enumeration already taken stands
  IBaseFilter* batch[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(filters->Next(4, batch, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  std::vector<ComPtr<IBaseFilter>> got;
  for (ULONG i = 0; i < fetched; ++i) got.push_back(ComPtr<IBaseFilter>::Adopt(batch[i]));
  EXPECT_EQ(got, (std::vector<ComPtr<IBaseFilter>>{a, b, c}));
  EXPECT_EQ(filters->Reset(), S_OK);
  EXPECT_EQ(filters->Skip(2), S_OK);
  EXPECT_EQ(FiltersOf(filters.Get()), (std::vector<ComPtr<IBaseFilter>>{c}));
  EXPECT_EQ(FilterNames(graph.Get()), "A, C");
}

TEST_F(FilterGraphTest, StateChanges_ReachFiltersNotBuiltOnGStreamer) {
  const ComPtr<IMediaControl> control = As<IMediaControl>(MakeGraph().Get());
  const ComPtr<IFilterGraph> graph = As<IFilterGraph>(control.Get());
  const ComPtr<RecordingFilter> fake = MakeComObject<RecordingFilter>();
  ASSERT_EQ(graph->AddFilter(fake.Get(), u"Fake"), S_OK);
  EXPECT_EQ(control->Pause(), S_OK);
  EXPECT_EQ(control->Run(), S_OK);
  EXPECT_EQ(control->Stop(), S_OK);
  EXPECT_EQ(fake->calls(), "JoinFilterGraph(graph, Fake) Pause Run Stop");

  // A filter that fails to run makes the graph's Run fail with its status.
  const ComPtr<RecordingFilter> failing = MakeComObject<RecordingFilter>(E_UNEXPECTED);
  ASSERT_EQ(graph->AddFilter(failing.Get(), u"Failing"), S_OK);
  EXPECT_EQ(control->Run(), E_UNEXPECTED);
  EXPECT_EQ(control->Stop(), E_UNEXPECTED);
}

TEST_F(FilterGraphTest, AddFilter_BringsANewElementToTheRunningGraphsState) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IMediaControl> control = As<IMediaControl>(graph.Get());
  ASSERT_EQ(control->Run(), S_OK);  // empty: nothing to wait for
  const ComPtr<IBaseFilter> late = MakeElementFilter("identity");
  ASSERT_EQ(graph->AddFilter(late.Get(), u"Late"), S_OK);
  FILTER_STATE state = State_Stopped;
  EXPECT_EQ(late->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);

  ASSERT_EQ(graph->RemoveFilter(late.Get()), S_OK);  // out of the graph: stopped
  EXPECT_EQ(late->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(FilterGraphTest, RunAndStop_FramesReachTheSinkAndStateReadsBack) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IMediaControl> control = As<IMediaControl>(graph.Get());
  const ComPtr<IBaseFilter> source = MakePatternSource("I420");
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  ASSERT_EQ(graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  BufferCounter frames(sink.Get());

  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);

  const HRESULT run = control->Run();
  EXPECT_TRUE(run == S_OK || run == S_FALSE) << std::hex << run;
  const HRESULT right_after = control->GetState(0, &state);  // never waits
  EXPECT_TRUE(right_after == S_OK || right_after == VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Running);
  ASSERT_TRUE(frames.WaitFor(5));
  EXPECT_EQ(control->GetState(-1, &state), S_OK);
  EXPECT_EQ(state, State_Running);

  EXPECT_EQ(control->Stop(), S_OK);
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(Events(As<IMediaEvent>(graph.Get()).Get()), "");
}

TEST_F(FilterGraphTest, GetState_ReportsAPendingChangeWithoutWaiting) {
  // A sink with no source never prerolls: the pause stays pending.
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IMediaControl> control = As<IMediaControl>(graph.Get());
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  EXPECT_EQ(control->Pause(), S_FALSE);
  OAFilterState state = -1;
  EXPECT_EQ(control->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(control->GetState(10, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(control->GetState(0, nullptr), E_POINTER);
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(FilterGraphTest, GraphEvents_AreQueuedInOrderAndTakenWithoutBlocking) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IMediaEventEx> events = As<IMediaEventEx>(graph.Get());
  const ComPtr<PatternSourceFilter> source = MakePatternSource("I420");
  source->PostGraphEvent(EC_VIDEO_SIZE_CHANGED, 1, 2);  // outside a graph: goes nowhere
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);

  LONG code = -1, param1 = -1, param2 = -1;
  EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);
  EXPECT_EQ(code, 0);
  source->PostGraphEvent(EC_VIDEO_SIZE_CHANGED, (120 << 16) | 160, 0);
  source->PostGraphEvent(EC_PALETTE_CHANGED, 0, 0);
  source->PostGraphEvent(0x1234, -1, 7);
  EXPECT_EQ(Events(events.Get()),
            "10,7864480,0 "
            "9,0,0 "
            "4660,-1,7");
  EXPECT_EQ(events->GetEvent(nullptr, &param1, &param2, 0), E_POINTER);
}

TEST_F(FilterGraphTest, GetEvent_WaitsForAnEventPostedFromAnotherThread) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IMediaEventEx> events = As<IMediaEventEx>(graph.Get());
  const ComPtr<PatternSourceFilter> source = MakePatternSource("I420");
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  std::thread poster([&] { source->PostGraphEvent(EC_PALETTE_CHANGED, 3, 4); });
  LONG code = 0, param1 = 0, param2 = 0;
  EXPECT_EQ(events->GetEvent(&code, &param1, &param2, -1), S_OK);
  poster.join();
  EXPECT_EQ(code, EC_PALETTE_CHANGED);
  EXPECT_EQ(param1, 3);
  EXPECT_EQ(param2, 4);
}

TEST_F(FilterGraphTest, EndOfStream_BecomesComplete) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IBaseFilter> source = MakePatternSource("I420", 5);
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  ASSERT_EQ(graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                           PinOf(sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  const ComPtr<IMediaControl> control = As<IMediaControl>(graph.Get());
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  const ComPtr<IMediaEvent> events = As<IMediaEvent>(graph.Get());
  LONG code = 0, param1 = -1, param2 = -1;
  ASSERT_EQ(events->GetEvent(&code, &param1, &param2, 20000), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(param1, S_OK);
  EXPECT_EQ(param2, 0);
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(FilterGraphTest, Run_FailsAndQueuesErrorAbortWhenAnElementFails) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IBaseFilter> source = MakeElementFilter("filesrc");
  g_object_set(ElementOfFilter(source.Get()), "location", "/nonexistent/presenter-link", nullptr);
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                                 PinOf(sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  const ComPtr<IMediaControl> control = As<IMediaControl>(graph.Get());
  EXPECT_EQ(control->Run(), VFW_E_STREAM_FAILED);

  const ComPtr<IMediaEvent> events = As<IMediaEvent>(graph.Get());
  LONG code = 0, param1 = 0, param2 = -1;
  ASSERT_EQ(events->GetEvent(&code, &param1, &param2, 0), S_OK);  // queued before Run returned
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_TRUE(FAILED(param1)) << std::hex << param1;
  EXPECT_EQ(param2, 0);
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(FilterGraphTest, ErrorOfAVanishedCaptureDevice_BecomesDeviceLost) {
  const ComPtr<IBaseFilter> camera = MakeElementFilter("v4l2src");
  if (!camera) GTEST_SKIP() << "v4l2src is not installed";
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
  // What v4l2src posts when its device is unplugged; no device is opened here.
  GstElement* element = ElementOfFilter(camera.Get());
  GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                      "Could not read from resource.");
  gst_element_post_message(element, gst_message_new_error(GST_OBJECT(element), error, "gone"));
  g_error_free(error);
  EXPECT_EQ(Events(As<IMediaEvent>(graph.Get()).Get()), "31,0,0");
}

// Records what would be posted to windows.
struct PostedMessages {
  static std::mutex mutex;
  static std::vector<std::string> posted;
  static bool Post(OAHWND window, std::uint32_t message, WPARAM wparam, LPARAM lparam) {
    std::lock_guard lock(mutex);
    std::ostringstream line;
    line << std::hex << window << " " << message << " " << wparam << " " << lparam;
    posted.push_back(line.str());
    return true;
  }
};
std::mutex PostedMessages::mutex;
std::vector<std::string> PostedMessages::posted;

TEST_F(FilterGraphTest, Notification_PostsOnceForEveryQueuedEventWhileOn) {
  PostedMessages::posted.clear();
  SetWindowMessagePoster(&PostedMessages::Post);
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IMediaEventEx> events = As<IMediaEventEx>(graph.Get());
  const ComPtr<PatternSourceFilter> source = MakePatternSource("I420");
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);

  ASSERT_EQ(events->SetNotifyFlags(0), S_OK);
  ASSERT_EQ(events->SetNotifyWindow(0xABC, WM_APP + 1, 0x77), S_OK);
  source->PostGraphEvent(EC_PALETTE_CHANGED, 0, 0);
  source->PostGraphEvent(EC_PALETTE_CHANGED, 1, 0);
  EXPECT_EQ(PostedMessages::posted, (std::vector<std::string>{"abc 8001 0 77", "abc 8001 0 77"}));

  ASSERT_EQ(events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
  LONG flags = 0;
  EXPECT_EQ(events->GetNotifyFlags(&flags), S_OK);
  EXPECT_EQ(flags, AM_MEDIAEVENT_NONOTIFY);
  source->PostGraphEvent(EC_PALETTE_CHANGED, 2, 0);
  ASSERT_EQ(events->SetNotifyFlags(0), S_OK);
  ASSERT_EQ(events->SetNotifyWindow(0, WM_APP + 1, 0x77), S_OK);  // no window: no post
  source->PostGraphEvent(EC_PALETTE_CHANGED, 3, 0);
  EXPECT_EQ(PostedMessages::posted.size(), 2u);
  EXPECT_EQ(events->SetNotifyFlags(5), E_INVALIDARG);

  // Silence stops the posting, not the queue.
  EXPECT_EQ(Events(events.Get()), "9,0,0 9,1,0 9,2,0 9,3,0");
  SetWindowMessagePoster(nullptr);
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The pipeline's own state as the Graphviz file shows it ("[>]" playing, "[0]" null).
std::string PublishedPipelineState(const std::filesystem::path& file) {
  std::istringstream lines(ReadFile(file));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("label=\"<GstPipeline>") == std::string::npos) continue;
    const auto open = line.rfind('[');
    const auto close = line.rfind(']');
    if (open != std::string::npos && close > open) return line.substr(open, close - open + 1);
  }
  return "";
}

bool WaitForPublishedState(const std::filesystem::path& file, const std::string& state) {
  for (int turn = 0; turn < 2000; ++turn) {  // a bound against hanging, not a timing
    if (PublishedPipelineState(file) == state) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(FilterGraphTest, Publishing_WritesTheTopologyAndKeepsItCurrent) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("dshow-publish-" + std::to_string(getpid()));
  const std::filesystem::path file = folder / "graph.dot";
  std::filesystem::remove_all(folder);
  {
    const ComPtr<IGraphBuilder> graph = MakeGraph();
    const ComPtr<IPublishedObject> published = As<IPublishedObject>(graph.Get());
    const ComPtr<IMediaControl> control = As<IMediaControl>(graph.Get());

    published->StartPublishing(file);
    ASSERT_TRUE(std::filesystem::exists(file));  // written at once
    EXPECT_EQ(ReadFile(file).rfind("digraph", 0), 0u);
    EXPECT_EQ(PublishedPipelineState(file), "[0]");

    const ComPtr<IBaseFilter> source = MakePatternSource("I420");
    const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
    ASSERT_EQ(graph->AddFilter(source.Get(), u"SourceFilter"), S_OK);
    EXPECT_NE(ReadFile(file).find("SourceFilter"), std::string::npos);
    ASSERT_EQ(graph->AddFilter(sink.Get(), u"SinkFilter"), S_OK);
    ASSERT_EQ(graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                             PinOf(sink.Get(), PINDIR_INPUT).Get()),
              S_OK);
    EXPECT_NE(ReadFile(file).find(" -> "), std::string::npos);  // the link is drawn

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_TRUE(WaitForPublishedState(file, "[>]"));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_TRUE(WaitForPublishedState(file, "[0]"));

    published->StopPublishing();
    std::filesystem::remove(file);
    ASSERT_EQ(graph->RemoveFilter(sink.Get()), S_OK);
    EXPECT_FALSE(std::filesystem::exists(file));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      left.push_back(entry.path().filename().string());
    }
    EXPECT_TRUE(left.empty()) << left.front();  // no temporary file left behind
  }
  std::filesystem::remove_all(folder);
}

TEST_F(FilterGraphTest, Release_StopsThePipelineAndLetsEveryFilterGo) {
  const ComPtr<RecordingFilter> fake = MakeComObject<RecordingFilter>();
  const ComPtr<IBaseFilter> source = MakePatternSource("I420");
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  {
    const ComPtr<IGraphBuilder> graph = MakeGraph();
    ASSERT_EQ(graph->AddFilter(fake.Get(), u"Fake"), S_OK);
    ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
    ASSERT_EQ(graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                             PinOf(sink.Get(), PINDIR_INPUT).Get()),
              S_OK);
    BufferCounter frames(sink.Get());
    ASSERT_TRUE(SUCCEEDED(As<IMediaControl>(graph.Get())->Run()));
    ASSERT_TRUE(frames.WaitFor(2));
  }  // released while running
  EXPECT_EQ(fake->calls(), "JoinFilterGraph(graph, Fake) Run Stop JoinFilterGraph(null, null)");
  for (IBaseFilter* filter : {source.Get(), sink.Get()}) {
    FILTER_INFO info{};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(GST_OBJECT_PARENT(ElementOfFilter(filter)), nullptr);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
  }
}

}  // namespace
