#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/directshow_error.h"
#include "media/graph_member.h"
#include "platform/dshow/video_window.h"
#include "platform/ui/controls.h"

class TFilterGraph;

enum TVideoMode { vmNormal = 0, vmVMR = 1 };
enum TVMRVideoMode { vmrWindowed = 0, vmrWindowless = 1, vmrRenderless = 2 };

// Options of the mixing renderer; only their Mode is ever read here.
struct TVMROptions {
  TVMRVideoMode Mode = vmrWindowed;
  int Streams = 4;
  std::vector<std::string> Preferences = {"vpForceMixer"};
  bool KeepAspectRatio = true;
};

// The video area: a control whose renderer is a member of its graph (under the
// control's name) and whose renderer window it places over itself when the
// graph is about to run.
class TVideoWindow : public TWinControl, public GraphMember, public GraphListener,
                     public InterfaceSource {
 public:
  explicit TVideoWindow(TComponent* owner);
  ~TVideoWindow() override;

  TFilterGraph* FilterGraph() const { return graph_; }
  void SetFilterGraph(TFilterGraph* graph);
  TVideoMode Mode() const { return mode_; }
  void SetMode(TVideoMode mode) { mode_ = mode; }
  TVMROptions& VMROptions() { return vmr_options_; }

  // The renderer and its window control, held while in an active graph.
  ComPtr<IBaseFilter> Renderer() const { return renderer_; }
  ComPtr<IVideoWindow> RendererWindow() const { return renderer_window_; }
  // The window styles read once loading completed.
  std::int32_t StoredWindowStyle() const { return stored_style_; }
  std::int32_t StoredWindowStyleEx() const { return stored_style_ex_; }

  // The control's own interfaces (none of the graph's), then its renderer's.
  HRESULT QueryInterface(REFIID riid, void** object) override;

  // GraphMember
  void MemberNotice(TMemberNotice notice) override;
  ComPtr<IBaseFilter> MemberFilter() const override { return renderer_; }
  std::u16string MemberName() const override;
  void GraphDestroyed() override { graph_ = nullptr; }

  // GraphListener: Play places the renderer's window; events 9 and 83 refresh it.
  void ControlNotice(TControlNotice notice, int value) override;
  void GraphEvent(LONG code, LONG param1, LONG param2) override;

  // FilterGraph, Mode, VMROptions.*, and the control's own.
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;
  bool IsReferenceProperty(std::string_view name) const override;
  void Loaded() override;

 private:
  // True when the renderer window is held and a renderer pin is connected.
  bool RendererConnected() const;
  // Owner, style, extended style and position.
  void PlaceWindow();
  // Caption and message drain.
  void NameWindow();

  TFilterGraph* graph_ = nullptr;  // borrowed: a graph tells its members before it goes
  TVideoMode mode_ = vmNormal;
  TVMROptions vmr_options_;
  std::int32_t stored_style_ = 0;
  std::int32_t stored_style_ex_ = 0;
  ComPtr<IBaseFilter> renderer_;
  ComPtr<IVideoWindow> renderer_window_;
};
