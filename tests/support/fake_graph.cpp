#include "support/fake_graph.h"

#include <algorithm>

#include "support/call_journal.h"
#include "support/fake_filter.h"

namespace {

int graphs_created = 0;
int builders_created = 0;
std::vector<FakeFilterGraph*> live_graphs;
std::vector<FakeCaptureGraphBuilder*> live_builders;

class FakeFilterEnum : public ComObject<IEnumFilters> {
 public:
  explicit FakeFilterEnum(std::vector<ComPtr<IBaseFilter>> filters) : filters_(std::move(filters)) {}
  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    ULONG given = 0;
    while (given < count && next_ < filters_.size()) filters_[next_++].CopyTo(&filters[given++]);
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    next_ = std::min(filters_.size(), next_ + count);
    return S_OK;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  std::vector<ComPtr<IBaseFilter>> filters_;
  std::size_t next_ = 0;
};

std::string NameOf(IUnknown* object) {
  if (!object) return "null";
  if (FakeFilter* fake = FakeFilter::From(object)) return fake->Label();
  return "?";
}

// Connects the first unconnected output of `from` to the first unconnected input of `to`.
HRESULT ConnectFilters(IGraphBuilder* graph, FakeFilter* from, FakeFilter* to) {
  if (!from || !to) return E_POINTER;
  FakePin* out = nullptr;
  for (int i = 0; FakePin* pin = from->Output(i); ++i) {
    if (!pin->Peer()) {
      out = pin;
      break;
    }
  }
  FakePin* in = nullptr;
  for (int i = 0; FakePin* pin = to->Input(i); ++i) {
    if (!pin->Peer()) {
      in = pin;
      break;
    }
  }
  if (!out || !in) return VFW_E_CANNOT_CONNECT;
  return graph->ConnectDirect(out, in);
}

}  // namespace

FakeGraphOptions& FakeGraphSettings() {
  static FakeGraphOptions options;
  return options;
}

FakeFilterGraph::FakeFilterGraph() : label_("Graph#" + std::to_string(++graphs_created)) {
  live_graphs.push_back(this);
  Journal(label_ + ".Created()");
}

FakeFilterGraph::~FakeFilterGraph() {
  for (auto& [filter, name] : filters_) filter->JoinFilterGraph(nullptr, nullptr);
  Journal(label_ + ".Destroyed()");
  live_graphs.erase(std::remove(live_graphs.begin(), live_graphs.end(), this), live_graphs.end());
}

std::vector<FakeFilterGraph*> FakeFilterGraph::Instances() { return live_graphs; }

HRESULT FakeFilterGraph::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (const std::string name = InterfaceName(riid); !name.empty()) {
    Journal(label_ + ".QueryInterface(" + name + ")");
  }
  if (!FakeGraphSettings().offer_events &&
      (riid == IMediaEventEx::iid || riid == IMediaEvent::iid)) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  return ComObject::QueryInterface(riid, object);
}

HRESULT FakeFilterGraph::Answer(const std::string& call, const std::string& key) {
  Journal(label_ + "." + call);
  const auto& answers = FakeGraphSettings().answers;
  const auto found = answers.find(key);
  return found == answers.end() ? S_OK : found->second;
}

HRESULT FakeFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  const std::string shown = Utf16ToUtf8(name ? name : u"");
  if (!filter) {
    Answer("AddFilter(empty " + shown + ")", "AddFilter");
    return E_POINTER;
  }
  const HRESULT status = Answer("AddFilter(" + shown + ")", "AddFilter");
  if (FAILED(status)) return status;
  filters_.emplace_back(ComPtr<IBaseFilter>(filter), name ? name : u"");
  filter->JoinFilterGraph(this, name);
  return status;
}

HRESULT FakeFilterGraph::RemoveFilter(IBaseFilter* filter) {
  const auto found = std::find_if(filters_.begin(), filters_.end(),
                                  [&](const auto& entry) { return entry.first.Get() == filter; });
  if (found == filters_.end()) {
    Answer("RemoveFilter(" + std::string(filter ? "not in graph" : "empty") + ")", "RemoveFilter");
    return VFW_E_NOT_IN_GRAPH;
  }
  const HRESULT status = Answer("RemoveFilter(" + Utf16ToUtf8(found->second) + ")", "RemoveFilter");
  if (FAILED(status)) return status;
  const ComPtr<IBaseFilter> leaving = found->first;
  filters_.erase(found);
  leaving->JoinFilterGraph(nullptr, nullptr);
  return status;
}

HRESULT FakeFilterGraph::EnumFilters(IEnumFilters** filters) {
  *filters = nullptr;
  const auto& answers = FakeGraphSettings().answers;
  if (const auto found = answers.find("EnumFilters"); found != answers.end() && FAILED(found->second)) {
    return found->second;
  }
  std::vector<ComPtr<IBaseFilter>> list;
  for (auto& [filter, name] : filters_) list.push_back(filter);
  *filters = MakeComObject<FakeFilterEnum>(std::move(list)).Detach();
  return S_OK;
}

HRESULT FakeFilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  *filter = nullptr;
  for (auto& [candidate, candidate_name] : filters_) {
    if (name && candidate_name == name) {
      candidate.CopyTo(filter);
      return S_OK;
    }
  }
  return VFW_E_NOT_IN_GRAPH;
}

HRESULT FakeFilterGraph::ConnectDirect(IPin* output, IPin* input) {
  if (!output || !input) return E_POINTER;
  return output->Connect(input);
}

HRESULT FakeFilterGraph::Connect(IPin* output, IPin* input) { return ConnectDirect(output, input); }

HRESULT FakeFilterGraph::Run() {
  const HRESULT status = Answer("Run()", "Run");
  if (FAILED(status)) return status;
  for (auto& [filter, name] : filters_) filter->Run(0);
  state_ = State_Running;
  return status;
}

HRESULT FakeFilterGraph::Pause() {
  const HRESULT status = Answer("Pause()", "Pause");
  if (FAILED(status)) return status;
  for (auto& [filter, name] : filters_) filter->Pause();
  state_ = State_Paused;
  return status;
}

HRESULT FakeFilterGraph::Stop() {
  const HRESULT status = Answer("Stop()", "Stop");
  if (FAILED(status)) return status;
  for (auto& [filter, name] : filters_) filter->Stop();
  state_ = State_Stopped;
  return status;
}

HRESULT FakeFilterGraph::GetState(LONG, OAFilterState* state) {
  *state = state_;
  return S_OK;
}

HRESULT FakeFilterGraph::GetEvent(LONG* code, LONG* param1, LONG* param2, LONG) {
  if (events_.empty()) return E_ABORT;
  std::tie(*code, *param1, *param2) = events_.front();
  events_.pop_front();
  return S_OK;
}

HRESULT FakeFilterGraph::FreeEventParams(LONG, LONG, LONG) {
  ++freed_;
  return S_OK;
}

HRESULT FakeFilterGraph::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) {
  window_ = window;
  message_ = message;
  instance_ = instance;
  Journal(label_ + ".SetNotifyWindow()");
  return S_OK;
}

HRESULT FakeFilterGraph::SetNotifyFlags(LONG flags) {
  flags_ = flags;
  Journal(label_ + ".SetNotifyFlags(" + std::to_string(flags) + ")");
  return S_OK;
}

HRESULT FakeFilterGraph::GetNotifyFlags(LONG* flags) {
  *flags = flags_;
  return S_OK;
}

std::vector<std::string> FakeFilterGraph::FilterNames() const {
  std::vector<std::string> names;
  for (auto& [filter, name] : filters_) names.push_back(Utf16ToUtf8(name));
  return names;
}

void FakeFilterGraph::QueueEvent(LONG code, LONG param1, LONG param2, bool notify) {
  events_.emplace_back(code, param1, param2);
  if (notify && flags_ == 0 && window_) {
    PostWindowMessage(window_, static_cast<std::uint32_t>(message_), 0, instance_);
  }
}

FakeCaptureGraphBuilder::FakeCaptureGraphBuilder()
    : label_("Builder#" + std::to_string(++builders_created)) {
  live_builders.push_back(this);
  Journal(label_ + ".Created()");
}

FakeCaptureGraphBuilder::~FakeCaptureGraphBuilder() {
  live_builders.erase(std::remove(live_builders.begin(), live_builders.end(), this),
                      live_builders.end());
}

HRESULT FakeCaptureGraphBuilder::QueryInterface(REFIID riid, void** object) {
  if (const std::string name = InterfaceName(riid); !name.empty()) {
    Journal(label_ + ".QueryInterface(" + name + ")");
  }
  return ComObject::QueryInterface(riid, object);
}

std::vector<FakeCaptureGraphBuilder*> FakeCaptureGraphBuilder::Instances() { return live_builders; }

HRESULT FakeCaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
  FakeFilterGraph* fake = FakeFilterGraph::From(graph);
  Journal(label_ + ".SetFiltergraph(" + (fake ? fake->Label() : std::string("?")) + ")");
  graph_ = ComPtr<IGraphBuilder>(graph);
  return S_OK;
}

HRESULT FakeCaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
  graph_.CopyTo(graph);
  return graph_ ? S_OK : E_UNEXPECTED;
}

HRESULT FakeCaptureGraphBuilder::RenderStream(const GUID*, const GUID*, IUnknown* source,
                                              IBaseFilter* intermediate, IBaseFilter* sink) {
  Journal(label_ + ".RenderStream(" + NameOf(source) + ", " + NameOf(intermediate) + ", " +
          NameOf(sink) + ")");
  if (!graph_) return E_UNEXPECTED;
  const auto& answers = FakeGraphSettings().answers;
  if (const auto found = answers.find("RenderStream"); found != answers.end()) return found->second;
  FakeFilter* from = FakeFilter::From(source);
  FakeFilter* middle = FakeFilter::From(intermediate);
  FakeFilter* to = FakeFilter::From(sink);
  if (FakeGraphSettings().insert_converter && from && middle) {
    FakeFilterConfig config;
    config.label = "Converter";
    auto converter = MakeComObject<FakeFilter>(CLSID_FakeConverter, config);
    graph_->AddFilter(converter.Get(), u"Converter");
    if (FAILED(ConnectFilters(graph_.Get(), from, converter.Get()))) return VFW_E_CANNOT_CONNECT;
    from = converter.Get();
  }
  if (FAILED(ConnectFilters(graph_.Get(), from, middle))) return VFW_E_CANNOT_CONNECT;
  if (FAILED(ConnectFilters(graph_.Get(), middle, to))) return VFW_S_PARTIAL_RENDER;
  return S_OK;
}

void InstallFakeGraphClasses() {
  FakeGraphSettings() = FakeGraphOptions();
  graphs_created = 0;
  builders_created = 0;
  RegisterClass(CLSID_FilterGraph, "Fake graph manager", [](REFIID riid, void** object) -> HRESULT {
    *object = nullptr;
    if (FakeGraphSettings().fail_graph_creation) return E_OUTOFMEMORY;
    return MakeComObject<FakeFilterGraph>()->QueryInterface(riid, object);
  });
  RegisterClass(CLSID_CaptureGraphBuilder2, "Fake capture graph builder",
                [](REFIID riid, void** object) -> HRESULT {
                  *object = nullptr;
                  if (FakeGraphSettings().fail_builder_creation) return E_OUTOFMEMORY;
                  return MakeComObject<FakeCaptureGraphBuilder>()->QueryInterface(riid, object);
                });
}

int FakeGraphsCreated() { return graphs_created; }
int FakeBuildersCreated() { return builders_created; }
