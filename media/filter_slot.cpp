#include "media/filter_slot.h"

#include <stdexcept>

#include "media/filter_graph.h"
#include "media/layout_values.h"
#include "platform/com/com.h"

TFilter::TFilter(TComponent* owner) : TComponent(owner) {}

TFilter::~TFilter() {
  MarkDestroying();
  try {
    SetFilterGraph(nullptr);
  } catch (const std::exception& error) {
    ReportUnhandled(error);
  }
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
  if (graph == graph_) return;
  if (TFilterGraph* old = graph_) {
    graph_ = nullptr;
    old->RemoveMember(this);
  }
  if (graph) graph->AddMember(this);
  graph_ = graph;
}

HRESULT TFilter::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // The slot itself offers no media interface.
  if (!instance_) return E_NOINTERFACE;
  return instance_->QueryInterface(riid, object);
}

void TFilter::MemberNotice(TMemberNotice notice) {
  switch (notice) {
    case TMemberNotice::Adding:
      instance_ = base_filter_.CreateFilter();
      break;
    case TMemberNotice::Added:
      break;
    case TMemberNotice::Removing:
      if (instance_) {
        FILTER_STATE state = State_Stopped;
        if (instance_->GetState(0, &state) == S_OK &&
            (state == State_Paused || state == State_Running)) {
          instance_->Stop();  // status not examined
        }
      }
      break;
    case TMemberNotice::Removed:
      instance_.Reset();
      break;
  }
}

std::u16string TFilter::MemberName() const { return Utf8ToUtf16(Name()); }

void TFilter::SetProperty(std::string_view name, const LayoutValue& value,
                          const LoadContext& context) {
  if (name == "BaseFilter.data") {
    if (value.kind != LayoutValue::Kind::Binary) ThrowBadValue(name, value, "binary data");
    try {
      base_filter_.ReadData(value.bytes);
    } catch (const std::length_error&) {
      ThrowBadValue(name, value, "a filter selection record");
    }
  } else if (name == "FilterGraph") {
    SetFilterGraph(ComponentProperty<TFilterGraph>(name, value, context));
  } else {
    TComponent::SetProperty(name, value, context);
  }
}

bool TFilter::IsReferenceProperty(std::string_view name) const {
  return name == "FilterGraph" || TComponent::IsReferenceProperty(name);
}
