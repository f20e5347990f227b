#include "media/filter_graph.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "media/graph_enumeration.h"
#include "media/layout_values.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/ui/application.h"

namespace {

// The item moniker's delimiter under which a graph editor looks for graphs.
constexpr char16_t kRegistrationDelimiter[] = u"!";

TGraphMode GraphModeFromName(std::string_view name, const LayoutValue& value) {
  if (value.text == "gmNormal") return gmNormal;
  if (value.text == "gmCapture") return gmCapture;
  if (value.text == "gmDVD") return gmDVD;
  ThrowBadValue(name, value, "gmNormal, gmCapture or gmDVD");
}

template <class T>
void EraseOne(std::vector<T*>& list, T* item) {
  const auto found = std::find(list.begin(), list.end(), item);
  if (found != list.end()) list.erase(found);
}

}  // namespace

std::string GraphRegistrationName(std::uintptr_t graph_manager, std::uint32_t process_id) {
  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %0*llX pid %X", static_cast<int>(sizeof(void*) * 2),
                static_cast<unsigned long long>(graph_manager), static_cast<unsigned>(process_id));
  return name;
}

TFilterGraph::TFilterGraph(TComponent* owner)
    : TComponent(owner),
      window_(std::make_unique<TUtilityWindow>(
          [this](std::uint32_t message, WPARAM, LPARAM) {
            // The message's parameters and the instance value are not needed:
            // the drain asks the queue itself.
            if (message == WM_GRAPHNOTIFY) HandleGraphNotify();
          })) {}

TFilterGraph::~TFilterGraph() {
  MarkDestroying();
  try {
    SetActive(false);
  } catch (const std::exception& error) {
    ReportUnhandled(error);
  }
  const std::vector<GraphMember*> members = members_;
  members_.clear();
  listeners_.clear();
  for (GraphMember* member : members) member->GraphDestroyed();
  window_.reset();
}

void TFilterGraph::SetActive(bool active) {
  if (!active) {
    activation_pending_ = false;
    if (active_) Deactivate();
    return;
  }
  if (Active()) return;
  // While the stored settings are applied, Mode and GraphEdit may still follow.
  if (IsLoading()) {
    activation_pending_ = true;
    return;
  }
  Activate();
}

void TFilterGraph::SetMode(TGraphMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  // A live graph takes the objects of its new mode.
  if (active_) {
    Deactivate();
    Activate();
  }
}

void TFilterGraph::SetGraphEdit(bool value) {
  graph_edit_ = value;
  if (!active_) return;
  if (value && registration_key_ == 0) Register();
  if (!value) Revoke();
}

void TFilterGraph::SetEventHandler(LONG code, TOnGraphEvent handler) {
  if (handler) {
    event_handlers_[code] = std::move(handler);
  } else {
    event_handlers_.erase(code);
  }
}

void TFilterGraph::CompletePendingActivation() {
  if (activation_pending_) Activate();
}

void TFilterGraph::Activate() {
  activation_pending_ = false;
  // No status is examined here; a missing object is simply not used later.
  if (mode_ == gmCapture) CoCreateInstance(CLSID_CaptureGraphBuilder2, &builder_);
  CoCreateInstance(CLSID_FilterGraph, &manager_);
  if (builder_ && manager_) builder_->SetFiltergraph(manager_.Get());
  active_ = true;
  StartEventDelivery();
  if (graph_edit_) Register();
  const std::vector<GraphMember*> members = members_;
  for (GraphMember* member : members) MemberEnters(member);
  TellListeners(TControlNotice::Active, 1);
}

void TFilterGraph::Deactivate() {
  TellListeners(TControlNotice::Active, 0);
  const std::vector<GraphMember*> members = members_;
  for (GraphMember* member : members) MemberLeaves(member);
  StopEventDelivery();
  Revoke();
  manager_.Reset();
  builder_.Reset();
  active_ = false;
}

void TFilterGraph::StartEventDelivery() {
  ComPtr<IMediaEventEx> events;
  if (FAILED(QueryInterface(IMediaEventEx::iid, events.ReleaseAndGetVoidAddress())) || !events) {
    return;  // active without event delivery; nothing is reported
  }
  events->SetNotifyFlags(0);
  events->SetNotifyWindow(window_->Handle(), static_cast<LONG>(WM_GRAPHNOTIFY),
                          reinterpret_cast<LONG_PTR>(events.Get()));
  event_ = std::move(events);
}

void TFilterGraph::StopEventDelivery() {
  if (!event_) return;
  event_->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
  event_.Reset();
}

void TFilterGraph::Register() {
  if (!manager_) return;
  ComPtr<IRunningObjectTable> table;
  if (FAILED(GetRunningObjectTable(0, table.ReleaseAndGetAddressOf())) || !table) return;
  std::string name = GraphRegistrationName(reinterpret_cast<std::uintptr_t>(manager_.Get()),
                                           static_cast<std::uint32_t>(getpid()));
  const std::u16string item = Utf8ToUtf16(name);
  ComPtr<IMoniker> moniker;
  if (FAILED(CreateItemMoniker(kRegistrationDelimiter, item.c_str(),
                               moniker.ReleaseAndGetAddressOf())) ||
      !moniker) {
    return;
  }
  DWORD key = 0;
  if (FAILED(table->Register(0, manager_.Get(), moniker.Get(), &key)) || key == 0) return;
  registration_key_ = key;
  registration_name_ = std::move(name);
}

void TFilterGraph::Revoke() {
  if (registration_key_ == 0) return;
  ComPtr<IRunningObjectTable> table;
  if (SUCCEEDED(GetRunningObjectTable(0, table.ReleaseAndGetAddressOf())) && table) {
    table->Revoke(registration_key_);
  }
  registration_key_ = 0;
  registration_name_.clear();
}

HRESULT TFilterGraph::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // The component itself offers none of the interfaces a graph is asked for.
  HRESULT status = E_NOINTERFACE;
  CompletePendingActivation();
  if (!active_) return status;
  if (builder_) {
    status = builder_->QueryInterface(riid, object);
    if (SUCCEEDED(status)) return status;
    *object = nullptr;
  }
  if (manager_) status = manager_->QueryInterface(riid, object);
  return status;
}

bool TFilterGraph::RunGraph() {
  ComPtr<IMediaControl> control;
  if (FAILED(QueryInterface(IMediaControl::iid, control.ReleaseAndGetVoidAddress())) || !control) {
    return false;
  }
  TellListeners(TControlNotice::Play, 0);
  CheckDSError(control->Run());
  return true;
}

bool TFilterGraph::StopGraph() {
  ComPtr<IMediaControl> control;
  if (FAILED(QueryInterface(IMediaControl::iid, control.ReleaseAndGetVoidAddress())) || !control) {
    return false;
  }
  TellListeners(TControlNotice::Stop, 0);
  return CheckDSError(control->Stop()) == S_OK;
}

void TFilterGraph::StripGraph() {
  const ComPtr<IFilterGraph2> manager = manager_;
  if (!manager) return;
  StopGraph();
  for (const ComPtr<IBaseFilter>& filter : EnumerateFilters(manager.Get())) {
    for (const ComPtr<IPin>& pin : EnumeratePins(filter.Get())) CheckDSError(pin->Disconnect());
  }
  std::vector<ComPtr<IBaseFilter>> foreign = EnumerateFilters(manager.Get());
  for (GraphMember* member : members_) {
    const ComPtr<IBaseFilter> own = member->MemberFilter();
    if (!own) continue;
    std::erase_if(foreign, [&](const ComPtr<IBaseFilter>& filter) { return filter == own; });
  }
  for (const ComPtr<IBaseFilter>& filter : foreign) {
    CheckDSError(manager->RemoveFilter(filter.Get()));
  }
}

void TFilterGraph::AddMember(GraphMember* member) {
  CompletePendingActivation();
  members_.push_back(member);
  if (active_) MemberEnters(member);
}

void TFilterGraph::RemoveMember(GraphMember* member) {
  EraseOne(members_, member);
  if (active_) MemberLeaves(member);
}

void TFilterGraph::AddListener(GraphListener* listener) { listeners_.push_back(listener); }

void TFilterGraph::RemoveListener(GraphListener* listener) { EraseOne(listeners_, listener); }

void TFilterGraph::MemberEnters(GraphMember* member) {
  member->MemberNotice(TMemberNotice::Adding);
  if (manager_) {
    // An empty filter simply does not enter; the status is not examined.
    const std::u16string name = member->MemberName();
    manager_->AddFilter(member->MemberFilter().Get(), name.c_str());
  }
  member->MemberNotice(TMemberNotice::Added);
}

void TFilterGraph::MemberLeaves(GraphMember* member) {
  member->MemberNotice(TMemberNotice::Removing);
  if (manager_) manager_->RemoveFilter(member->MemberFilter().Get());
  member->MemberNotice(TMemberNotice::Removed);
}

void TFilterGraph::TellListeners(TControlNotice notice, int value) {
  const std::vector<GraphListener*> listeners = listeners_;
  for (GraphListener* listener : listeners) listener->ControlNotice(notice, value);
}

OAHWND TFilterGraph::NotifyWindow() const { return window_ ? window_->Handle() : 0; }

void TFilterGraph::HandleGraphNotify() {
  for (;;) {
    // Held for the turn: a handler may deactivate the graph, which ends the drain.
    const ComPtr<IMediaEventEx> events = event_;
    if (!events) return;
    LONG code = 0;
    LONG param1 = 0;
    LONG param2 = 0;
    if (events->GetEvent(&code, &param1, &param2, 0) != S_OK) return;
    struct FreeParams {
      IMediaEventEx* events;
      LONG code, param1, param2;
      ~FreeParams() { events->FreeEventParams(code, param1, param2); }
    } free_params{events.Get(), code, param1, param2};
    DispatchEvent(code, param1, param2);
  }
}

void TFilterGraph::DispatchEvent(LONG code, LONG param1, LONG param2) {
  const std::vector<GraphListener*> listeners = listeners_;
  for (GraphListener* listener : listeners) listener->GraphEvent(code, param1, param2);
  if (OnDSEvent) OnDSEvent(this, code, param1, param2);
  const auto handler = event_handlers_.find(code);
  if (handler != event_handlers_.end() && handler->second) handler->second(this, param1, param2);
}

void TFilterGraph::SetProperty(std::string_view name, const LayoutValue& value,
                               const LoadContext& context) {
  if (name == "Active") {
    SetActive(BooleanProperty(name, value));
  } else if (name == "AutoCreate") {
    SetAutoCreate(BooleanProperty(name, value));
  } else if (name == "Mode") {
    IdentifierProperty(name, value);
    SetMode(GraphModeFromName(name, value));
  } else if (name == "GraphEdit") {
    SetGraphEdit(BooleanProperty(name, value));
  } else if (name == "LinearVolume") {
    SetLinearVolume(BooleanProperty(name, value));
  } else if (name == "OnDSEvent") {
    OnDSEvent = context.HandlerAs<TOnDSEvent>(value);
  } else {
    TComponent::SetProperty(name, value, context);
  }
}

void TFilterGraph::Loaded() {
  TComponent::Loaded();
  CompletePendingActivation();
  if (auto_create_ && !active_) Activate();
}
