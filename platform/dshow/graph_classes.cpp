#include "platform/com/com.h"
#include "platform/dshow/capture_graph_builder.h"
#include "platform/dshow/filter_graph_manager.h"
#include "platform/dshow/graph.h"

void RegisterGraphClasses() {
  RegisterClass(CLSID_FilterGraph, "Filter Graph", FactoryFor<FilterGraphManager>());
  RegisterClass(CLSID_CaptureGraphBuilder2, "Capture Graph Builder",
                FactoryFor<CaptureGraphBuilder>());
}
