#pragma once

#include <vector>

#include "platform/dshow/graph.h"

// The filters of a graph and the pins of a filter, in the order their owner
// enumerates them. A failing enumeration goes through the status check.
std::vector<ComPtr<IBaseFilter>> EnumerateFilters(IFilterGraph* graph);
std::vector<ComPtr<IPin>> EnumeratePins(IBaseFilter* filter);
