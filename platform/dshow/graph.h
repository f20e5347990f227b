#pragma once

#include <cstdint>

#include "platform/com/window_message.h"
#include "platform/dshow/filter.h"

// Graph manager, capture graph builder, media control and the event queue.

using OAFilterState = std::int32_t;

inline constexpr CLSID CLSID_FilterGraph = MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr CLSID CLSID_CaptureGraphBuilder2 =
    MakeGuid("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");

struct IFilterGraph : IUnknown {
  static constexpr IID iid = MakeGuid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
  // Adds `filter` under `name` (null: a name is made up). A null filter is E_POINTER
  // and nothing enters; a name already in use gets a
  // number appended and the answer VFW_S_DUPLICATE_NAME.
  virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
  // VFW_E_NOT_IN_GRAPH for a filter that is not in the graph.
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
  // Filters in the order they were added.
  virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
  virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
  // Connects `output` to `input` with no converter.
  virtual HRESULT ConnectDirect(IPin* output, IPin* input) = 0;
};

struct IGraphBuilder : IFilterGraph {
  static constexpr IID iid = MakeGuid("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
  using Base = IFilterGraph;
  // Connects `output` to `input`, adding converter filters to the graph where the
  // formats do not meet (colour conversion, scaling, parsing). VFW_E_CANNOT_CONNECT
  // when no combination works; converters tried and not used are taken out again.
  virtual HRESULT Connect(IPin* output, IPin* input) = 0;
};

struct IFilterGraph2 : IGraphBuilder {
  static constexpr IID iid = MakeGuid("{36B73882-C2C8-11CF-8B46-00805F6CEF60}");
  using Base = IGraphBuilder;
};

struct ICaptureGraphBuilder2 : IUnknown {
  static constexpr IID iid = MakeGuid("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  // Connects an unconnected output of `source` to `intermediate` and then an output
  // of `intermediate` to `sink` (either may be null: then that hop is skipped and
  // the chain continues from what is there). Category and type must be null here.
  // S_OK: fully connected. VFW_S_PARTIAL_RENDER: the first hop was made, the second
  // not. VFW_E_CANNOT_CONNECT: nothing was connected. E_UNEXPECTED without a graph.
  virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                               IBaseFilter* intermediate, IBaseFilter* sink) = 0;
};

struct IMediaControl : IUnknown {
  static constexpr IID iid = MakeGuid("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
  // S_OK when running, S_FALSE while the change completes; a failure carries the
  // cause (VFW_E_STREAM_FAILED and the GStreamer message in the graph's event queue).
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG timeout_ms, OAFilterState* state) = 0;
};

struct IMediaEvent : IUnknown {
  static constexpr IID iid = MakeGuid("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
  // Takes the oldest queued event. Waits at most `timeout_ms` (0 never blocks,
  // negative waits forever); E_ABORT when nothing was queued in time.
  virtual HRESULT GetEvent(LONG* code, LONG* param1, LONG* param2, LONG timeout_ms) = 0;
  virtual HRESULT FreeEventParams(LONG code, LONG param1, LONG param2) = 0;
};

struct IMediaEventEx : IMediaEvent {
  static constexpr IID iid = MakeGuid("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
  using Base = IMediaEvent;
  // Posts `message` (wparam 0, lparam `instance`) to `window` whenever an event is
  // queued, while notification is on. Window 0 stops the posting.
  virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) = 0;
  // 0: notification on; 1 (AM_MEDIAEVENT_NONOTIFY): off.
  virtual HRESULT SetNotifyFlags(LONG flags) = 0;
  virtual HRESULT GetNotifyFlags(LONG* flags) = 0;
};

inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 1;

// Event codes the graph queues.
inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_PALETTE_CHANGED = 0x09;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG EC_VMR_RENDERDEVICE_SET = 0x53;

// Filters raise events of their own by posting an element message with this
// structure name and the integer fields "code", "param1", "param2" on their bus.
inline constexpr const char* kGraphEventMessage = "presenter-link-graph-event";

// Registers the graph manager and capture graph builder classes.
void RegisterGraphClasses();
