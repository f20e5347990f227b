#include "platform/dshow/filter_graph_manager.h"

#include <algorithm>
#include <array>

#include "platform/com/com.h"
#include "platform/dshow/event_queue.h"
#include "platform/dshow/gst_filter.h"
#include "platform/dshow/gst_states.h"
#include "platform/dshow/topology_publisher.h"

// What the bus handler reaches. Shared, so that a handler still running on a
// streaming thread never outlives it.
struct GraphBusContext {
  GstElement* pipeline = nullptr;  // borrowed: the graph stops and unhooks before letting go
  EventQueue events;
  std::shared_ptr<TopologyPublisher> publisher = std::make_shared<TopologyPublisher>();
};

namespace {

// Converters the graph puts between two pins whose formats do not meet, tried in
// this order; each chain is at most two filters long.
struct Converter {
  const char* factory;
  const char16_t* name;  // the name it stands under in the graph
};
constexpr Converter kColorSpaceConverter{"videoconvert", u"Color Space Converter"};
constexpr Converter kVideoScaler{"videoscale", u"Video Scaler"};
constexpr Converter kMpeg4Parser{"mpeg4videoparse", u"MPEG-4 Video Parser"};
constexpr Converter kMjpegDecompressor{"jpegdec", u"MJPEG Decompressor"};
constexpr Converter kNone{nullptr, nullptr};

constexpr std::array<std::array<Converter, 2>, 5> kConverterChains{{
    {kColorSpaceConverter, kNone},
    {kVideoScaler, kNone},
    {kColorSpaceConverter, kVideoScaler},
    {kMpeg4Parser, kNone},
    {kMjpegDecompressor, kColorSpaceConverter},  // cameras that only give MJPEG
}};

GstBusSyncReply OnBusMessage(GstBus* /*bus*/, GstMessage* message, gpointer data) {
  auto& context = **static_cast<std::shared_ptr<GraphBusContext>*>(data);
  if (const auto event = GraphEventOf(message)) context.events.Push(*event);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_LATENCY:
      // A latency query on the streaming thread could wait on that very thread.
      gst_element_call_async(
          context.pipeline,
          [](GstElement* pipeline, gpointer) { gst_bin_recalculate_latency(GST_BIN(pipeline)); },
          nullptr, nullptr);
      break;
    case GST_MESSAGE_STATE_CHANGED:
      if (GST_MESSAGE_SRC(message) == GST_OBJECT(context.pipeline)) {
        context.publisher->RefreshLater(context.pipeline);
      }
      break;
    default:
      break;
  }
  // Nobody pops this bus: every message ends here.
  gst_message_unref(message);
  return GST_BUS_DROP;
}

bool SameObject(IUnknown* a, IUnknown* b) {
  if (a == b) return true;
  ComPtr<IUnknown> ia, ib;
  if (FAILED(a->QueryInterface(IUnknown::iid, ia.ReleaseAndGetVoidAddress())) ||
      FAILED(b->QueryInterface(IUnknown::iid, ib.ReleaseAndGetVoidAddress()))) {
    return false;
  }
  return ia == ib;
}

// A name for a filter added without one: its class's name, its element's, or "Filter".
std::u16string MadeUpName(IBaseFilter* filter) {
  CLSID clsid{};
  if (SUCCEEDED(filter->GetClassID(&clsid)) && clsid != GUID_NULL) {
    for (const ClassInfo& info : RegisteredClasses()) {
      if (info.clsid == clsid && !info.friendly_name.empty()) {
        return Utf8ToUtf16(info.friendly_name);
      }
    }
  }
  if (GstElement* element = ElementOfFilter(filter)) {
    if (GstElementFactory* factory = gst_element_get_factory(element)) {
      return Utf8ToUtf16(gst_element_factory_get_longname(factory));
    }
  }
  return u"Filter";
}

std::u16string Truncated(std::u16string name) {
  if (name.size() > MAX_FILTER_NAME - 1) name.resize(MAX_FILTER_NAME - 1);
  return name;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  for (const ComPtr<IPin>& pin : PinsOf(filter)) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  }
  return nullptr;
}

GstState GstStateOf(FILTER_STATE state) {
  switch (state) {
    case State_Running:
      return GST_STATE_PLAYING;
    case State_Paused:
      return GST_STATE_PAUSED;
    case State_Stopped:
      break;
  }
  return GST_STATE_NULL;
}

class FilterEnumerator final : public ComObject<IEnumFilters> {
 public:
  explicit FilterEnumerator(std::vector<ComPtr<IBaseFilter>> filters)
      : filters_(std::move(filters)) {}

  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (!filters) return E_POINTER;
    ULONG handed = 0;
    while (handed < count && next_ < filters_.size()) filters_[next_++].CopyTo(&filters[handed++]);
    if (fetched) *fetched = handed;
    return handed == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const std::size_t left = filters_.size() - next_;
    next_ += std::min<std::size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  const std::vector<ComPtr<IBaseFilter>> filters_;  // a snapshot: stable while the graph changes
  std::size_t next_ = 0;
};

}  // namespace

FilterGraphManager::FilterGraphManager() : bus_context_(std::make_shared<GraphBusContext>()) {
  EnsureGStreamer();
  pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
  bus_context_->pipeline = pipeline_.get();
  // The pipeline would flush its bus on the way to NULL and drop what filters
  // post while the graph is stopped; our handler takes every message anyway.
  gst_pipeline_set_auto_flush_bus(GST_PIPELINE(pipeline_.get()), FALSE);
  const GstBusRef bus = GstBusRef::Adopt(gst_element_get_bus(pipeline_.get()));
  gst_bus_set_sync_handler(
      bus.get(), OnBusMessage, new std::shared_ptr<GraphBusContext>(bus_context_),
      [](gpointer data) { delete static_cast<std::shared_ptr<GraphBusContext>*>(data); });
}

FilterGraphManager::~FilterGraphManager() {
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  for (Member& member : members_) {
    if (!member.element && requested_ != State_Stopped) member.filter->Stop();
    if (member.element) gst_bin_remove(GST_BIN(pipeline_.get()), member.element);
    member.filter->JoinFilterGraph(nullptr, nullptr);
  }
  members_.clear();
  bus_context_->publisher->Stop();
  const GstBusRef bus = GstBusRef::Adopt(gst_element_get_bus(pipeline_.get()));
  gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

std::vector<FilterGraphManager::Member>::iterator FilterGraphManager::FindMember(
    IUnknown* filter) {
  return std::find_if(members_.begin(), members_.end(), [filter](const Member& member) {
    return SameObject(member.filter.Get(), filter);
  });
}

std::u16string FilterGraphManager::UniqueName(const std::u16string& wanted) const {
  const auto taken = [this](const std::u16string& name) {
    return std::any_of(members_.begin(), members_.end(),
                       [&name](const Member& member) { return member.name == name; });
  };
  if (!taken(wanted)) return wanted;
  for (int number = 1;; ++number) {
    const std::string digits = std::to_string(10000 + number).substr(1);  // " 0001", " 0002" …
    const std::u16string suffix = u" " + Utf8ToUtf16(digits);
    const std::u16string candidate =
        wanted.substr(0, MAX_FILTER_NAME - 1 - suffix.size()) + suffix;
    if (!taken(candidate)) return candidate;
  }
}

HRESULT FilterGraphManager::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  const HRESULT added = AddMember(filter, name);
  if (SUCCEEDED(added)) Publish();
  return added;
}

HRESULT FilterGraphManager::AddMember(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  if (FindMember(filter) != members_.end()) return E_INVALIDARG;  // a member already
  GstElement* element = ElementOfFilter(filter);
  if (element && GST_OBJECT_PARENT(element)) return E_INVALIDARG;  // stands in another graph

  const bool named = name && *name;  // an empty name is no name
  const std::u16string wanted = Truncated(named ? std::u16string(name) : MadeUpName(filter));
  const std::u16string unique = UniqueName(wanted);
  const HRESULT status = named && unique != wanted ? VFW_S_DUPLICATE_NAME : S_OK;

  members_.push_back(Member{ComPtr<IBaseFilter>(filter), unique, element});
  const HRESULT joined = filter->JoinFilterGraph(this, members_.back().name.c_str());
  if (FAILED(joined)) {
    members_.pop_back();
    return joined;
  }
  if (element) {
    // The element takes the filter's name, so the published topology reads like the graph.
    gst_object_set_name(GST_OBJECT(element), Utf16ToUtf8(unique).c_str());
    if (!gst_bin_add(GST_BIN(pipeline_.get()), element)) {
      filter->JoinFilterGraph(nullptr, nullptr);
      members_.pop_back();
      return E_FAIL;
    }
    if (GST_STATE_TARGET(pipeline_.get()) != GST_STATE_NULL) {
      gst_element_sync_state_with_parent(element);
    }
  }
  return status;
}

HRESULT FilterGraphManager::RemoveFilter(IBaseFilter* filter) {
  const HRESULT removed = RemoveMember(filter);
  if (SUCCEEDED(removed)) Publish();
  return removed;
}

HRESULT FilterGraphManager::RemoveMember(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  const auto found = FindMember(filter);
  if (found == members_.end()) return VFW_E_NOT_IN_GRAPH;
  const Member member = *found;
  members_.erase(found);
  if (member.element) {
    // Leaving the bin unlinks the element's pads from their peers.
    gst_element_set_state(member.element, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_.get()), member.element);
  }
  member.filter->JoinFilterGraph(nullptr, nullptr);
  return S_OK;
}

HRESULT FilterGraphManager::EnumFilters(IEnumFilters** filters) {
  if (!filters) return E_POINTER;
  std::vector<ComPtr<IBaseFilter>> snapshot;
  snapshot.reserve(members_.size());
  for (const Member& member : members_) snapshot.push_back(member.filter);
  *filters = MakeComObject<FilterEnumerator>(std::move(snapshot)).Detach();
  return S_OK;
}

HRESULT FilterGraphManager::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  if (!name || !filter) return E_POINTER;
  *filter = nullptr;
  const std::u16string wanted(name);
  for (const Member& member : members_) {
    if (member.name == wanted) {
      member.filter.CopyTo(filter);
      return S_OK;
    }
  }
  return VFW_E_NOT_IN_GRAPH;
}

HRESULT FilterGraphManager::ConnectDirect(IPin* output, IPin* input) {
  if (!output || !input) return E_POINTER;
  const HRESULT connected = output->Connect(input);
  if (SUCCEEDED(connected)) Publish();
  return connected;
}

HRESULT FilterGraphManager::Connect(IPin* output, IPin* input) {
  if (!output || !input) return E_POINTER;
  const HRESULT direct = output->Connect(input);
  if (SUCCEEDED(direct)) {
    Publish();
    return direct;
  }
  // No converter helps a pin that is taken, a filter outside the graph or a bad call.
  if (direct == VFW_E_ALREADY_CONNECTED || direct == VFW_E_NOT_IN_GRAPH ||
      direct == E_INVALIDARG || direct == E_POINTER) {
    return direct;
  }
  // Converters are GStreamer elements: they go only between pins of our pipeline.
  GstPad* from = PadOfPin(output);
  GstPad* to = PadOfPin(input);
  if (!from || !to) return VFW_E_CANNOT_CONNECT;
  for (std::size_t chain = 0; chain < kConverterChains.size(); ++chain) {
    if (TryConverters(output, input, chain)) {
      Publish();
      return S_OK;
    }
  }
  Publish();  // what was tried is gone again; the file says so
  return VFW_E_CANNOT_CONNECT;
}

bool FilterGraphManager::TryConverters(IPin* output, IPin* input, std::size_t chain) {
  std::vector<ComPtr<IBaseFilter>> added;
  const auto give_up = [&] {
    for (const ComPtr<IBaseFilter>& converter : added) RemoveMember(converter.Get());
    return false;
  };
  ComPtr<IPin> from(output);
  for (const Converter& step : kConverterChains[chain]) {
    if (!step.factory) break;
    ComPtr<IBaseFilter> converter = MakeElementFilter(step.factory);
    // AddMember also brings the converter to the graph's state when it is not stopped.
    if (!converter || FAILED(AddMember(converter.Get(), step.name))) return give_up();
    added.push_back(converter);
    const ComPtr<IPin> in = FirstPin(converter.Get(), PINDIR_INPUT);
    const ComPtr<IPin> out = FirstPin(converter.Get(), PINDIR_OUTPUT);
    if (!in || !out || FAILED(from->Connect(in.Get()))) return give_up();
    from = out;
  }
  if (FAILED(from->Connect(input))) return give_up();
  return true;
}

HRESULT FilterGraphManager::ChangeState(FILTER_STATE target) {
  HRESULT foreign = S_OK;
  for (const Member& member : members_) {
    if (member.element) continue;  // the pipeline moves its own elements
    const HRESULT told = target == State_Running  ? member.filter->Run(0)
                         : target == State_Paused ? member.filter->Pause()
                                                  : member.filter->Stop();
    if (FAILED(told) && SUCCEEDED(foreign)) foreign = told;
  }
  requested_ = target;
  // Blocks only as long as GStreamer's own change does (stopping joins the
  // streaming threads); prerolling completes on its own and answers S_FALSE.
  const HRESULT changed =
      StatusOfStateChange(gst_element_set_state(pipeline_.get(), GstStateOf(target)));
  return FAILED(foreign) ? foreign : changed;
}

HRESULT FilterGraphManager::Run() { return ChangeState(State_Running); }
HRESULT FilterGraphManager::Pause() { return ChangeState(State_Paused); }
HRESULT FilterGraphManager::Stop() { return ChangeState(State_Stopped); }

HRESULT FilterGraphManager::GetState(LONG timeout_ms, OAFilterState* state) {
  if (!state) return E_POINTER;
  FILTER_STATE current = State_Stopped;
  const HRESULT status = ElementState(pipeline_.get(), WaitOf(timeout_ms), &current);
  *state = current;
  return status;
}

HRESULT FilterGraphManager::GetEvent(LONG* code, LONG* param1, LONG* param2, LONG timeout_ms) {
  if (!code || !param1 || !param2) return E_POINTER;
  GraphEvent event;
  const HRESULT taken = bus_context_->events.Take(timeout_ms, &event);
  *code = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return taken;
}

HRESULT FilterGraphManager::FreeEventParams(LONG, LONG, LONG) {
  return S_OK;  // every parameter is a plain number: nothing was allocated
}

HRESULT FilterGraphManager::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) {
  bus_context_->events.SetNotifyWindow(window, static_cast<std::uint32_t>(message), instance);
  return S_OK;
}

HRESULT FilterGraphManager::SetNotifyFlags(LONG flags) {
  if (flags != 0 && flags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
  bus_context_->events.SetNotifyFlags(flags);
  return S_OK;
}

HRESULT FilterGraphManager::GetNotifyFlags(LONG* flags) {
  if (!flags) return E_POINTER;
  *flags = bus_context_->events.NotifyFlags();
  return S_OK;
}

void FilterGraphManager::StartPublishing(const std::filesystem::path& file) {
  bus_context_->publisher->Start(file, GST_BIN(pipeline_.get()));
}

void FilterGraphManager::StopPublishing() { bus_context_->publisher->Stop(); }

void FilterGraphManager::Publish() { bus_context_->publisher->Refresh(GST_BIN(pipeline_.get())); }
