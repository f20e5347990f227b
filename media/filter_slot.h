#pragma once

#include "media/base_filter_record.h"
#include "media/directshow_error.h"
#include "media/graph_member.h"
#include "platform/ui/component.h"

class TFilterGraph;

// A filter slot: one stored filter selection and the graph it belongs to. While
// it is a member of an active graph it holds the filter made from the selection,
// which stands in the graph under the slot's name.
class TFilter : public TComponent, public GraphMember, public InterfaceSource {
 public:
  explicit TFilter(TComponent* owner);
  ~TFilter() override;

  TBaseFilter& BaseFilter() { return base_filter_; }
  const TBaseFilter& BaseFilter() const { return base_filter_; }
  TFilterGraph* FilterGraph() const { return graph_; }
  // Binds the slot to `graph` or to none; the same graph again does nothing.
  void SetFilterGraph(TFilterGraph* graph);
  // The filter instance, empty unless the slot is in an active graph and its
  // selection resolved.
  ComPtr<IBaseFilter> Instance() const { return instance_; }

  // The slot's own interfaces (none of the graph's), then its instance's.
  HRESULT QueryInterface(REFIID riid, void** object) override;

  // GraphMember
  void MemberNotice(TMemberNotice notice) override;
  ComPtr<IBaseFilter> MemberFilter() const override { return instance_; }
  std::u16string MemberName() const override;
  void GraphDestroyed() override { graph_ = nullptr; }

  // BaseFilter.data, FilterGraph.
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;
  bool IsReferenceProperty(std::string_view name) const override;

 private:
  TBaseFilter base_filter_;
  TFilterGraph* graph_ = nullptr;  // borrowed: a graph tells its members before it goes
  ComPtr<IBaseFilter> instance_;
};
