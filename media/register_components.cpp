#include "media/register_components.h"

#include "media/filter_graph.h"
#include "media/filter_slot.h"
#include "media/video_window_control.h"

void RegisterMediaComponentClasses() {
  RegisterComponentClass("TFilterGraph", [](TComponent* owner) -> TComponent* {
    return new TFilterGraph(owner);
  });
  RegisterComponentClass("TFilter", [](TComponent* owner) -> TComponent* {
    return new TFilter(owner);
  });
  RegisterComponentClass("TVideoWindow", [](TComponent* owner) -> TComponent* {
    return new TVideoWindow(owner);
  });
}
