#pragma once

#include <gst/gst.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow/filter.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/gst_ref.h"

// The shared base of every filter built on a GStreamer element. The filter owns
// one element (usually a bin); its pins are that element's always-pads, in the
// order the element lists them. The graph manager finds the element through
// IGstElementFilter and puts it into its pipeline.

struct IGstElementFilter : IUnknown {
  static constexpr IID iid = MakeGuid("{2A7C4E91-0B3D-4F6A-8C15-7E9D2B4A6F30}");
  // Borrowed: the filter keeps it for its whole life.
  virtual GstElement* Element() = 0;
};

class GstFilter : public ComObject<IBaseFilter, IGstElementFilter> {
 public:
  // IPersist
  HRESULT GetClassID(CLSID* clsid) override;
  // IMediaFilter: a filter on its own, or inside a graph that is changing state.
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) override;
  // IBaseFilter
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  // IGstElementFilter
  GstElement* Element() override { return element_.get(); }

  // The graph the filter stands in (uncounted), or null.
  IFilterGraph* Graph() const { return graph_; }
  std::u16string NameInGraph() const { return name_; }

 protected:
  explicit GstFilter(REFCLSID clsid);
  ~GstFilter() override;

  // Takes over `element` (a floating reference is sunk) and makes its always-pads
  // the filter's pins. Called once, from the subclass's constructor.
  void SetElement(GstElement* element);

  // Posts a graph event (code and two parameters) on the element's bus; it reaches
  // the graph's event queue when the filter stands in a graph.
  void PostGraphEvent(LONG code, LONG param1, LONG param2);

 private:
  class Pin;
  class PinEnumerator;

  const CLSID clsid_;
  GstElementRef element_;
  std::vector<Pin*> pins_;  // owned; their counts are the filter's own
  IFilterGraph* graph_ = nullptr;
  std::u16string name_;
};

// The filter behind a pin (counted), or null.
ComPtr<IBaseFilter> FilterOfPin(IPin* pin);
// The GStreamer pad behind a pin of a GstFilter (borrowed), or null for other pins.
GstPad* PadOfPin(IPin* pin);
// The element behind a filter (borrowed), or null when the filter is not GStreamer-backed.
GstElement* ElementOfFilter(IUnknown* filter);

// A filter that wraps one stock element as it is (a converter the builder inserts,
// or a simple element a test wants in a graph). `factory` is a GStreamer element
// factory name; null when it is not installed.
ComPtr<IBaseFilter> MakeElementFilter(const char* factory, REFCLSID clsid = GUID_NULL);
