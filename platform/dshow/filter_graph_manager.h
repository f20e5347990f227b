#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com/storage.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/gst_ref.h"

struct GraphBusContext;  // what the graph shares with its bus handler

// The graph manager (class CLSID_FilterGraph): one GStreamer pipeline and the
// filters that stand in it.
//
// Filters built on GStreamer (IGstElementFilter) have their element in the
// pipeline, which moves them through its states; any other filter is a member
// all the same: listed, named, and told Stop/Pause/Run when the graph changes
// state. The pipeline's bus feeds the event queue (graph_events.cpp says which
// messages become which events); the bus handler runs on the streaming threads
// and calls no program code, it only queues and posts.
//
// The graph's methods belong to the thread that uses the graph (the window's);
// GetEvent may wait on any thread.
class FilterGraphManager final
    : public ComObject<IFilterGraph2, IMediaControl, IMediaEventEx, IPublishedObject> {
 public:
  FilterGraphManager();
  ~FilterGraphManager() override;

  // IFilterGraph
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** filters) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  HRESULT ConnectDirect(IPin* output, IPin* input) override;
  // IGraphBuilder
  HRESULT Connect(IPin* output, IPin* input) override;
  // IMediaControl
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG timeout_ms, OAFilterState* state) override;
  // IMediaEvent, IMediaEventEx
  HRESULT GetEvent(LONG* code, LONG* param1, LONG* param2, LONG timeout_ms) override;
  HRESULT FreeEventParams(LONG code, LONG param1, LONG param2) override;
  HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;
  HRESULT SetNotifyFlags(LONG flags) override;
  HRESULT GetNotifyFlags(LONG* flags) override;
  // IPublishedObject
  void StartPublishing(const std::filesystem::path& file) override;
  void StopPublishing() override;

 private:
  struct Member {
    ComPtr<IBaseFilter> filter;
    std::u16string name;
    GstElement* element;  // borrowed from the filter; null when not built on GStreamer
  };

  std::vector<Member>::iterator FindMember(IUnknown* filter);
  std::u16string UniqueName(const std::u16string& wanted) const;
  // The two halves of AddFilter and RemoveFilter, without publishing.
  HRESULT AddMember(IBaseFilter* filter, LPCWSTR name);
  HRESULT RemoveMember(IBaseFilter* filter);
  bool TryConverters(IPin* output, IPin* input, std::size_t chain);
  HRESULT ChangeState(FILTER_STATE target);
  void Publish();

  GstElementRef pipeline_;
  std::shared_ptr<GraphBusContext> bus_context_;  // shared with the bus handler
  std::vector<Member> members_;              // in order of addition
  FILTER_STATE requested_ = State_Stopped;   // what the filters were last told
};
