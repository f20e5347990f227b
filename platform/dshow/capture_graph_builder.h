#pragma once

#include "platform/dshow/graph.h"

// The capture graph builder (class CLSID_CaptureGraphBuilder2): wires source,
// intermediate and sink together through its graph's Connect, which adds the
// converters a hop needs.
class CaptureGraphBuilder final : public ComObject<ICaptureGraphBuilder2> {
 public:
  // E_UNEXPECTED when a graph was given already.
  HRESULT SetFiltergraph(IGraphBuilder* graph) override;
  HRESULT GetFiltergraph(IGraphBuilder** graph) override;
  HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                       IBaseFilter* intermediate, IBaseFilter* sink) override;

 private:
  ComPtr<IGraphBuilder> graph_;
};
