#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/directshow_error.h"
#include "media/graph_member.h"
#include "platform/dshow/graph.h"
#include "platform/ui/component.h"

class TUtilityWindow;

enum TGraphMode { gmNormal = 0, gmCapture = 1, gmDVD = 2 };

// The handler of a graph's events: the graph as sender, the code and both parameters.
using TOnDSEvent = std::function<void(TObject* sender, LONG Event, LONG Param1, LONG Param2)>;
// A handler bound to one event code: the graph as sender and both parameters.
using TOnGraphEvent = std::function<void(TObject* sender, LONG Param1, LONG Param2)>;

// The message the graph manager posts to the component's hidden window when it
// has queued an event.
inline constexpr std::uint32_t WM_GRAPHNOTIFY = WM_APP + 1;

// "FilterGraph %p pid %x": the graph manager reference zero-padded to the width
// of a pointer, the process id without leading zeros, both in upper-case hex.
std::string GraphRegistrationName(std::uintptr_t graph_manager, std::uint32_t process_id);

// Owns one filter graph: while active, a graph manager and (in gmCapture mode) a
// capture graph builder, its event delivery and, with GraphEdit on, its entry in
// the running object table. Keeps an ordered member list and its listeners.
//
//   inactive --Active := true--> active --Active := false / destruction--> inactive
class TFilterGraph : public TComponent, public InterfaceSource {
 public:
  explicit TFilterGraph(TComponent* owner);
  ~TFilterGraph() override;

  bool Active() const { return active_ || activation_pending_; }
  void SetActive(bool active);
  bool AutoCreate() const { return auto_create_; }
  void SetAutoCreate(bool value) { auto_create_ = value; }
  TGraphMode Mode() const { return mode_; }
  void SetMode(TGraphMode mode);
  bool GraphEdit() const { return graph_edit_; }
  void SetGraphEdit(bool value);
  bool LinearVolume() const { return linear_volume_; }
  void SetLinearVolume(bool value) { linear_volume_ = value; }
  TOnDSEvent OnDSEvent;

  // Handlers for one event code each, run after OnDSEvent (empty: none).
  void SetEventHandler(LONG code, TOnGraphEvent handler);

  // Answered first by the component itself (it offers no graph interface), then,
  // while active, by the capture graph builder and then by the graph manager.
  HRESULT QueryInterface(REFIID riid, void** object) override;

  // False when the graph supplies no IMediaControl; else runs it, with the status
  // check, after telling the listeners Play.
  bool RunGraph();
  // False when the graph supplies no IMediaControl; else stops it, with the status
  // check, after telling the listeners Stop; true only for exactly S_OK.
  bool StopGraph();
  // Stops the graph, disconnects every pin and removes every filter that no member
  // owns; each status is checked.
  void StripGraph();

  // Members and listeners; members bind themselves through these.
  void AddMember(GraphMember* member);
  void RemoveMember(GraphMember* member);
  void AddListener(GraphListener* listener);
  void RemoveListener(GraphListener* listener);
  const std::vector<GraphMember*>& Members() const { return members_; }
  const std::vector<GraphListener*>& Listeners() const { return listeners_; }

  // What the active graph holds (empty while inactive).
  ComPtr<IFilterGraph2> GraphManager() const { return manager_; }
  ComPtr<ICaptureGraphBuilder2> CaptureGraphBuilder() const { return builder_; }
  // The key of the graph registration, 0 without one.
  DWORD RegistrationKey() const { return registration_key_; }
  // The entry name of the graph registration, empty without one.
  const std::string& RegistrationName() const { return registration_name_; }
  // The hidden window graph events are posted to.
  OAHWND NotifyWindow() const;
  // Drains the event queue as the posted notification does.
  void HandleGraphNotify();

  // Active, AutoCreate, Mode, GraphEdit, LinearVolume, OnDSEvent.
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;
  void Loaded() override;

 private:
  // An Active stored before the rest of the settings takes effect once they have
  // all been applied: at the first binding or request, or when loading completes.
  void CompletePendingActivation();
  void Activate();
  void Deactivate();
  void StartEventDelivery();
  void StopEventDelivery();
  void Register();
  void Revoke();
  void MemberEnters(GraphMember* member);
  void MemberLeaves(GraphMember* member);
  void TellListeners(TControlNotice notice, int value);
  void DispatchEvent(LONG code, LONG param1, LONG param2);

  bool active_ = false;
  bool activation_pending_ = false;
  bool auto_create_ = false;
  TGraphMode mode_ = gmNormal;
  bool graph_edit_ = false;
  bool linear_volume_ = true;

  ComPtr<ICaptureGraphBuilder2> builder_;
  ComPtr<IFilterGraph2> manager_;
  ComPtr<IMediaEventEx> event_;
  DWORD registration_key_ = 0;
  std::string registration_name_;

  std::vector<GraphMember*> members_;      // borrowed: members unbind before they go
  std::vector<GraphListener*> listeners_;  // borrowed, as members
  std::map<LONG, TOnGraphEvent> event_handlers_;
  std::unique_ptr<TUtilityWindow> window_;
};
