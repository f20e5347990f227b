#include "platform/dshow/filter.h"

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  if (!filter || FAILED(filter->EnumPins(enumerator.ReleaseAndGetAddressOf())) || !enumerator) {
    return pins;
  }
  ComPtr<IPin> pin;
  while (enumerator->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) pins.push_back(pin);
  return pins;
}

std::vector<ComPtr<IBaseFilter>> FiltersOf(IEnumFilters* filters) {
  std::vector<ComPtr<IBaseFilter>> result;
  if (!filters) return result;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    result.push_back(filter);
  }
  return result;
}
