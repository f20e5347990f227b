#include "media/video_window_control.h"

#include "media/filter_graph.h"
#include "media/graph_enumeration.h"
#include "media/layout_values.h"
#include "platform/com/com.h"

namespace {

// For properties applied outside a layout (the colour at creation).
class NoLoadContext final : public LoadContext {
 public:
  const std::any* Handler(std::string_view) const override { return nullptr; }
  TComponent* FindComponent(std::string_view) const override { return nullptr; }
};

LayoutValue IdentifierValue(std::string text) {
  LayoutValue value;
  value.kind = LayoutValue::Kind::Identifier;
  value.text = std::move(text);
  return value;
}

}  // namespace

TVideoWindow::TVideoWindow(TComponent* owner) : TWinControl(owner, Kind::Panel) {
  TWinControl::SetProperty("Color", IdentifierValue("clBlack"), NoLoadContext());
}

TVideoWindow::~TVideoWindow() {
  MarkDestroying();
  try {
    SetFilterGraph(nullptr);
  } catch (const std::exception& error) {
    ReportUnhandled(error);
  }
}

void TVideoWindow::SetFilterGraph(TFilterGraph* graph) {
  if (graph == graph_) return;
  if (TFilterGraph* old = graph_) {
    graph_ = nullptr;
    // Stop listening first: the leaving may fail, and the graph must not keep us then.
    old->RemoveListener(this);
    old->RemoveMember(this);
  }
  if (graph) {
    graph->AddMember(this);
    graph->AddListener(this);
  }
  graph_ = graph;
}

HRESULT TVideoWindow::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // The control itself offers no media interface.
  if (!renderer_) return E_NOINTERFACE;
  return renderer_->QueryInterface(riid, object);
}

void TVideoWindow::MemberNotice(TMemberNotice notice) {
  switch (notice) {
    case TMemberNotice::Adding:
      // vmVMR has no mixing renderer here: both modes use the video renderer.
      CoCreateInstance(CLSID_VideoRenderer, &renderer_);  // status not examined
      break;
    case TMemberNotice::Added:
      // A renderer that could not be created is not used.
      if (renderer_) {
        ComPtr<IVideoWindow> window;
        CheckDSError(renderer_->QueryInterface(IVideoWindow::iid, window.ReleaseAndGetVoidAddress()));
        renderer_window_ = std::move(window);
      }
      break;
    case TMemberNotice::Removing:
      if (renderer_) {
        CheckDSError(renderer_->Stop());
        for (const ComPtr<IPin>& pin : EnumeratePins(renderer_.Get())) {
          CheckDSError(pin->Disconnect());
        }
      }
      break;
    case TMemberNotice::Removed:
      renderer_window_.Reset();
      renderer_.Reset();
      break;
  }
}

std::u16string TVideoWindow::MemberName() const { return Utf8ToUtf16(Name()); }

bool TVideoWindow::RendererConnected() const {
  if (!renderer_window_ || !renderer_) return false;
  for (const ComPtr<IPin>& pin : EnumeratePins(renderer_.Get())) {
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.ReleaseAndGetAddressOf());
    if (peer) return true;
  }
  return false;
}

void TVideoWindow::PlaceWindow() {
  const OAHWND owner = Parent() ? Parent()->Handle() : 0;
  CheckDSError(renderer_window_->put_Owner(owner));
  CheckDSError(renderer_window_->put_WindowStyle(stored_style_ | WS_CHILD | WS_CLIPSIBLINGS));
  CheckDSError(renderer_window_->put_WindowStyleEx(stored_style_ex_));
  CheckDSError(renderer_window_->SetWindowPosition(Left(), Top(), Width(), Height()));
}

void TVideoWindow::NameWindow() {
  if (!Name().empty()) {
    const std::u16string caption = Utf8ToUtf16(Name());
    CheckDSError(renderer_window_->put_Caption(caption.c_str()));
  }
  CheckDSError(renderer_window_->put_MessageDrain(Handle()));
}

void TVideoWindow::ControlNotice(TControlNotice notice, int) {
  if (notice != TControlNotice::Play) return;
  if (!RendererConnected()) return;
  PlaceWindow();
  NameWindow();
}

void TVideoWindow::GraphEvent(LONG code, LONG, LONG) {
  if (code == EC_PALETTE_CHANGED) {
    if (!renderer_window_) return;
    if (RendererConnected()) PlaceWindow();
    NameWindow();
  } else if (code == EC_VMR_RENDERDEVICE_SET) {
    if (vmr_options_.Mode == vmrWindowed && renderer_window_) NameWindow();
  }
}

void TVideoWindow::SetProperty(std::string_view name, const LayoutValue& value,
                               const LoadContext& context) {
  if (name == "FilterGraph") {
    SetFilterGraph(ComponentProperty<TFilterGraph>(name, value, context));
  } else if (name == "Mode") {
    const std::string& mode = IdentifierProperty(name, value);
    if (mode == "vmNormal") {
      mode_ = vmNormal;
    } else if (mode == "vmVMR") {
      mode_ = vmVMR;
    } else {
      ThrowBadValue(name, value, "vmNormal or vmVMR");
    }
  } else if (name == "VMROptions.Mode") {
    const std::string& mode = IdentifierProperty(name, value);
    if (mode == "vmrWindowed") {
      vmr_options_.Mode = vmrWindowed;
    } else if (mode == "vmrWindowless") {
      vmr_options_.Mode = vmrWindowless;
    } else if (mode == "vmrRenderless") {
      vmr_options_.Mode = vmrRenderless;
    } else {
      ThrowBadValue(name, value, "vmrWindowed, vmrWindowless or vmrRenderless");
    }
  } else if (name == "VMROptions.Streams") {
    if (value.kind != LayoutValue::Kind::Integer) ThrowBadValue(name, value, "an integer");
    vmr_options_.Streams = static_cast<int>(value.integer);
  } else if (name == "VMROptions.Preferences") {
    if (value.kind != LayoutValue::Kind::List) ThrowBadValue(name, value, "a list");
    vmr_options_.Preferences.clear();
    for (const LayoutValue& item : value.items) {
      vmr_options_.Preferences.push_back(IdentifierProperty(name, item));
    }
  } else if (name == "VMROptions.KeepAspectRatio") {
    vmr_options_.KeepAspectRatio = BooleanProperty(name, value);
  } else {
    TWinControl::SetProperty(name, value, context);
  }
}

bool TVideoWindow::IsReferenceProperty(std::string_view name) const {
  return name == "FilterGraph" || TWinControl::IsReferenceProperty(name);
}

void TVideoWindow::Loaded() {
  TWinControl::Loaded();
  stored_style_ = WindowStyle();
  stored_style_ex_ = WindowStyleEx();
}
