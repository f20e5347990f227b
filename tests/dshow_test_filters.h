#pragma once

// Filters and helpers shared by the dshow tests.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/gst_filter.h"

namespace dshow_test {

inline constexpr CLSID CLSID_PatternSourceForTesting =
    MakeGuid("{0D6A4F5E-2B71-4C38-9E0A-5F3B8D1C7A26}");

// A live test pattern in one raw format, the way a camera hands out frames: a bin
// of videotestsrc ! capsfilter whose output is the ghost pad "src".
class PatternSourceFilter : public GstFilter {
 public:
  explicit PatternSourceFilter(const char* format, int frames = -1)
      : GstFilter(CLSID_PatternSourceForTesting) {
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* caps = gst_element_factory_make("capsfilter", nullptr);
    g_object_set(pattern, "is-live", TRUE, "num-buffers", frames, nullptr);
    const std::string text = std::string("video/x-raw,format=") + format +
                             ",width=160,height=120,framerate=30/1";
    GstCaps* wanted = gst_caps_from_string(text.c_str());
    g_object_set(caps, "caps", wanted, nullptr);
    gst_caps_unref(wanted);
    gst_bin_add_many(GST_BIN(bin), pattern, caps, nullptr);
    gst_element_link(pattern, caps);
    GstPad* out = gst_element_get_static_pad(caps, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_object_unref(out);
    SetElement(bin);
  }
  // Raises a graph event the way filters do.
  using GstFilter::PostGraphEvent;
};

inline ComPtr<PatternSourceFilter> MakePatternSource(const char* format, int frames = -1) {
  return MakeComObject<PatternSourceFilter>(format, frames);
}

inline ComPtr<IGraphBuilder> MakeGraph() {
  RegisterGraphClasses();
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, &graph), S_OK);
  return graph;
}

template <class I>
ComPtr<I> As(IUnknown* object) {
  ComPtr<I> result;
  EXPECT_EQ(object->QueryInterface(I::iid, result.ReleaseAndGetVoidAddress()), S_OK);
  return result;
}

inline std::string NameOf(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (FAILED(filter->QueryFilterInfo(&info))) return "?";
  if (info.pGraph) info.pGraph->Release();
  return Utf16ToUtf8(info.achName);
}

// The graph's filters by name, in the order the graph lists them: "A B C".
inline std::string FilterNames(IFilterGraph* graph) {
  ComPtr<IEnumFilters> filters;
  EXPECT_EQ(graph->EnumFilters(filters.ReleaseAndGetAddressOf()), S_OK);
  std::string names;
  for (const ComPtr<IBaseFilter>& filter : FiltersOf(filters.Get())) {
    names += (names.empty() ? "" : ", ") + NameOf(filter.Get());
  }
  return names;
}

inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  for (const ComPtr<IPin>& pin : PinsOf(filter)) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  }
  return nullptr;
}

// Name of the filter at the other end of `pin`, or "" when it is not connected.
inline std::string PeerFilterName(IPin* pin) {
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf()))) return "";
  return NameOf(FilterOfPin(peer.Get()).Get());
}

// Counts the buffers that pass a filter's first input pin.
class BufferCounter {
 public:
  explicit BufferCounter(IBaseFilter* filter)
      : pad_(PadOfPin(PinOf(filter, PINDIR_INPUT).Get())) {
    probe_ = gst_pad_add_probe(pad_, GST_PAD_PROBE_TYPE_BUFFER, &BufferCounter::OnBuffer, this,
                               nullptr);
  }
  ~BufferCounter() { gst_pad_remove_probe(pad_, probe_); }

  // Waits until `count` buffers passed; false when they did not come within `limit`
  // (a bound against hanging, not a measure of speed).
  bool WaitFor(int count, std::chrono::seconds limit = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return passed_.wait_for(lock, limit, [&] { return count_ >= count; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* self = static_cast<BufferCounter*>(data);
    std::lock_guard lock(self->mutex_);
    ++self->count_;
    self->passed_.notify_all();
    return GST_PAD_PROBE_OK;
  }

  GstPad* pad_;  // borrowed: the filter outlives the counter
  gulong probe_ = 0;
  std::mutex mutex_;
  std::condition_variable passed_;
  int count_ = 0;
};

// An empty pin list, for filters that have no pins.
class NoPins final : public ComObject<IEnumPins> {
 public:
  HRESULT Next(ULONG count, IPin**, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    return count == 0 ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
  HRESULT Reset() override { return S_OK; }
};

// A filter that is not built on GStreamer: it records what it is told, in one
// line ("JoinFilterGraph(graph, Camera) Run Stop"), and answers `state_status`
// to state changes.
class RecordingFilter final : public ComObject<IBaseFilter> {
 public:
  explicit RecordingFilter(HRESULT state_status = S_OK) : state_status_(state_status) {}

  HRESULT GetClassID(CLSID* clsid) override {
    *clsid = GUID_NULL;
    return S_OK;
  }
  HRESULT Stop() override { return Note("Stop"); }
  HRESULT Pause() override { return Note("Pause"); }
  HRESULT Run(REFERENCE_TIME) override { return Note("Run"); }
  HRESULT GetState(DWORD, FILTER_STATE* state) override {
    *state = State_Stopped;
    return S_OK;
  }
  HRESULT EnumPins(IEnumPins** pins) override {
    *pins = MakeComObject<NoPins>().Detach();
    return S_OK;
  }
  HRESULT QueryFilterInfo(FILTER_INFO* info) override {
    const std::u16string name = Utf8ToUtf16(name_);
    std::copy(name.begin(), name.end(), info->achName);
    info->achName[name.size()] = u'\0';
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
  }
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    graph_ = graph;
    name_ = name ? Utf16ToUtf8(name) : "";
    Note(std::string("JoinFilterGraph(") + (graph ? "graph" : "null") + ", " +
         (name ? name_ : "null") + ")");
    return S_OK;
  }

  std::string calls() const { return calls_; }

 private:
  HRESULT Note(const std::string& call) {
    calls_ += (calls_.empty() ? "" : " ") + call;
    return call.starts_with("JoinFilterGraph") ? S_OK : state_status_;
  }

  const HRESULT state_status_;
  IFilterGraph* graph_ = nullptr;
  std::string name_;
  std::string calls_;
};

// Every test leaves no object behind.
class DshowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGStreamer();
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(ComLiveObjectCount(), live_at_start_); }

 private:
  long live_at_start_ = 0;
};

}  // namespace dshow_test
