#pragma once

#include "platform/com/storage.h"
#include "platform/com/unknown.h"

// Filters, pins and their enumerators.

struct IFilterGraph;
struct IPin;
struct IBaseFilter;

using REFERENCE_TIME = std::int64_t;  // 100 ns units

enum FILTER_STATE : std::int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : std::int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr std::size_t MAX_FILTER_NAME = 128;
inline constexpr std::size_t MAX_PIN_NAME = 128;

struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // counted: the caller releases it
};

struct PIN_INFO {
  IBaseFilter* pFilter;  // counted: the caller releases it
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

struct IEnumPins : IUnknown {
  static constexpr IID iid = MakeGuid("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
  // Hands out up to `count` counted pins; S_FALSE when fewer were left.
  virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};

struct IEnumFilters : IUnknown {
  static constexpr IID iid = MakeGuid("{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
  virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};

struct IPin : IUnknown {
  static constexpr IID iid = MakeGuid("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
  // Called on an output pin: connect it to `receive_pin` (an input pin) directly,
  // with no converter. VFW_E_ALREADY_CONNECTED, VFW_E_NO_ACCEPTABLE_TYPES when the
  // formats do not meet, VFW_E_NOT_STOPPED where the filters cannot link now.
  virtual HRESULT Connect(IPin* receive_pin) = 0;
  // Breaks this pin's connection (both ends). S_FALSE when it was not connected.
  virtual HRESULT Disconnect() = 0;
  // The peer (counted), or VFW_E_NOT_CONNECTED and null.
  virtual HRESULT ConnectedTo(IPin** peer) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  // The formats this pin can take or give now, one per line, in task memory
  // (UTF-8, zero-terminated; free with CoTaskMemFree).
  virtual HRESULT QueryFormats(char** formats) = 0;
};

struct IMediaFilter : IPersist {
  static constexpr IID iid = MakeGuid("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
  using Base = IPersist;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  // S_OK and the state; VFW_S_STATE_INTERMEDIATE while a change has not
  // completed within `timeout_ms`.
  virtual HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) = 0;
};

struct IBaseFilter : IMediaFilter {
  static constexpr IID iid = MakeGuid("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
  using Base = IMediaFilter;
  virtual HRESULT EnumPins(IEnumPins** pins) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  // Told by a graph when the filter enters (graph and name) or leaves (null, null).
  // The filter keeps the graph uncounted: the graph holds the filter.
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
};

// Releases every pin in order, for convenience in tests and tools.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter);
std::vector<ComPtr<IBaseFilter>> FiltersOf(IEnumFilters* filters);
