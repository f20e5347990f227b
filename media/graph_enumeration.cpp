#include "media/graph_enumeration.h"

#include "media/directshow_error.h"

std::vector<ComPtr<IBaseFilter>> EnumerateFilters(IFilterGraph* graph) {
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IEnumFilters> enumerator;
  CheckDSError(graph->EnumFilters(enumerator.ReleaseAndGetAddressOf()));
  if (!enumerator) return filters;
  for (;;) {
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    const HRESULT status = CheckDSError(enumerator->Next(1, &filter, &fetched));
    if (fetched != 1 || !filter) break;
    filters.push_back(ComPtr<IBaseFilter>::Adopt(filter));
    if (status != S_OK) break;
  }
  return filters;
}

std::vector<ComPtr<IPin>> EnumeratePins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  CheckDSError(filter->EnumPins(enumerator.ReleaseAndGetAddressOf()));
  if (!enumerator) return pins;
  for (;;) {
    IPin* pin = nullptr;
    ULONG fetched = 0;
    const HRESULT status = CheckDSError(enumerator->Next(1, &pin, &fetched));
    if (fetched != 1 || !pin) break;
    pins.push_back(ComPtr<IPin>::Adopt(pin));
    if (status != S_OK) break;
  }
  return pins;
}
