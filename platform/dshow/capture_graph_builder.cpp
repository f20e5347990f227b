#include "platform/dshow/capture_graph_builder.h"

namespace {

bool IsConnected(IPin* pin) {
  ComPtr<IPin> peer;
  return SUCCEEDED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) && peer;
}

ComPtr<IPin> FirstUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  for (const ComPtr<IPin>& pin : PinsOf(filter)) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted &&
        !IsConnected(pin.Get())) {
      return pin;
    }
  }
  return nullptr;
}

}  // namespace

HRESULT CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
  if (!graph) return E_POINTER;
  if (graph_) return E_UNEXPECTED;
  graph_ = ComPtr<IGraphBuilder>(graph);
  return S_OK;
}

HRESULT CaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
  if (!graph) return E_POINTER;
  *graph = nullptr;
  if (!graph_) return E_UNEXPECTED;
  graph_.CopyTo(graph);
  return S_OK;
}

HRESULT CaptureGraphBuilder::RenderStream(const GUID* category, const GUID* type,
                                          IUnknown* source, IBaseFilter* intermediate,
                                          IBaseFilter* sink) {
  if (category || type) return E_INVALIDARG;  // pin categories and media types are not ours
  if (!graph_) return E_UNEXPECTED;
  if (!source) return E_POINTER;
  if (!intermediate && !sink) return E_INVALIDARG;

  // The source is an output pin, or a filter whose first free output is taken.
  ComPtr<IPin> out;
  ComPtr<IBaseFilter> source_filter;
  if (SUCCEEDED(source->QueryInterface(IPin::iid, out.ReleaseAndGetVoidAddress()))) {
    PIN_DIRECTION direction;
    if (FAILED(out->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
      return E_INVALIDARG;
    }
  } else if (SUCCEEDED(source->QueryInterface(IBaseFilter::iid,
                                              source_filter.ReleaseAndGetVoidAddress()))) {
    out = FirstUnconnectedPin(source_filter.Get(), PINDIR_OUTPUT);
  } else {
    return E_INVALIDARG;
  }
  if (!out) return VFW_E_CANNOT_CONNECT;

  bool first_hop_made = false;
  if (intermediate) {
    const ComPtr<IPin> in = FirstUnconnectedPin(intermediate, PINDIR_INPUT);
    if (!in || FAILED(graph_->Connect(out.Get(), in.Get()))) return VFW_E_CANNOT_CONNECT;
    if (!sink) return S_OK;
    first_hop_made = true;
    out = FirstUnconnectedPin(intermediate, PINDIR_OUTPUT);
  }
  const ComPtr<IPin> in = FirstUnconnectedPin(sink, PINDIR_INPUT);
  if (out && in && SUCCEEDED(graph_->Connect(out.Get(), in.Get()))) return S_OK;
  return first_hop_made ? VFW_S_PARTIAL_RENDER : VFW_E_CANNOT_CONNECT;
}
