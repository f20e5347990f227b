#pragma once

#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/com/com.h"
#include "platform/dshow/graph.h"

// A graph manager and a capture graph builder that record what they are asked
// ("Graph#1.AddFilter(SourceFilter)", "Builder#1.RenderStream(…)") in the journal,
// hold fake filters and connect their pins, and can answer any status. Installed
// in place of the GStreamer-backed classes for tests that count calls.

struct FakeGraphOptions {
  // Status by call ("Run", "Stop", "RemoveFilter", "EnumFilters", "RenderStream").
  std::map<std::string, HRESULT> answers;
  // RenderStream puts a converter between source and intermediate, as the real
  // builder does where formats do not meet.
  bool insert_converter = true;
  bool fail_graph_creation = false;
  bool fail_builder_creation = false;
  bool offer_events = true;  // IMediaEventEx
};
FakeGraphOptions& FakeGraphSettings();

class FakeFilterGraph : public ComObject<IFilterGraph2, IMediaControl, IMediaEventEx> {
 public:
  FakeFilterGraph();
  ~FakeFilterGraph() override;

  HRESULT QueryInterface(REFIID riid, void** object) override;

  // IFilterGraph, IGraphBuilder
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** filters) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  HRESULT ConnectDirect(IPin* output, IPin* input) override;
  HRESULT Connect(IPin* output, IPin* input) override;
  // IMediaControl
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG timeout_ms, OAFilterState* state) override;
  // IMediaEventEx
  HRESULT GetEvent(LONG* code, LONG* param1, LONG* param2, LONG timeout_ms) override;
  HRESULT FreeEventParams(LONG code, LONG param1, LONG param2) override;
  HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;
  HRESULT SetNotifyFlags(LONG flags) override;
  HRESULT GetNotifyFlags(LONG* flags) override;

  const std::string& Label() const { return label_; }
  // Names of the filters in the graph, in order of entry.
  std::vector<std::string> FilterNames() const;
  OAFilterState State() const { return state_; }
  // Queues an event and, while notification is on, posts the notification.
  void QueueEvent(LONG code, LONG param1, LONG param2, bool notify = true);
  OAHWND NotifyWindow() const { return window_; }
  LONG NotifyMessage() const { return message_; }
  LONG_PTR NotifyInstance() const { return instance_; }
  LONG NotifyFlags() const { return flags_; }
  int FreedEvents() const { return freed_; }

  static std::vector<FakeFilterGraph*> Instances();
  static FakeFilterGraph* From(IUnknown* object) { return dynamic_cast<FakeFilterGraph*>(object); }

 private:
  HRESULT Answer(const std::string& call, const std::string& key);

  std::string label_;
  std::vector<std::pair<ComPtr<IBaseFilter>, std::u16string>> filters_;
  OAFilterState state_ = 0;
  std::deque<std::tuple<LONG, LONG, LONG>> events_;
  OAHWND window_ = 0;
  LONG message_ = 0;
  LONG_PTR instance_ = 0;
  LONG flags_ = 0;
  int freed_ = 0;
};

class FakeCaptureGraphBuilder : public ComObject<ICaptureGraphBuilder2> {
 public:
  FakeCaptureGraphBuilder();
  ~FakeCaptureGraphBuilder() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT SetFiltergraph(IGraphBuilder* graph) override;
  HRESULT GetFiltergraph(IGraphBuilder** graph) override;
  HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                       IBaseFilter* intermediate, IBaseFilter* sink) override;
  const std::string& Label() const { return label_; }
  static std::vector<FakeCaptureGraphBuilder*> Instances();

 private:
  std::string label_;
  ComPtr<IGraphBuilder> graph_;
};

// Registers the fakes under CLSID_FilterGraph and CLSID_CaptureGraphBuilder2
// (replacing what was there) and resets their settings and numbering.
void InstallFakeGraphClasses();
int FakeGraphsCreated();
int FakeBuildersCreated();
