#include "media/filter_config_dialog.h"

#include <cstring>
#include <memory>

#include "platform/com/com.h"
#include "platform/ui/property_frame.h"

namespace {

PropertyFrameFunction& FrameOverride() {
  static PropertyFrameFunction frame;
  return frame;
}

HRESULT OpenPropertyFrame(OAHWND owner, LPCWSTR caption, IUnknown* object, const CAUUID& pages) {
  IUnknown* objects[] = {object};
  if (const PropertyFrameFunction& frame = FrameOverride()) {
    return frame(owner, 0, 0, caption, 1, objects, pages.cElems, pages.pElems, 0, 0, nullptr);
  }
  return OleCreatePropertyFrame(owner, 0, 0, caption, 1, objects, pages.cElems, pages.pElems, 0, 0,
                                nullptr);
}

struct TaskMemFree {
  void operator()(GUID* block) const { CoTaskMemFree(block); }
};

HRESULT ShowPropertyPages(OAHWND owner, const ComPtr<IBaseFilter>& filter, FILTER_INFO& info) {
  ComPtr<ISpecifyPropertyPages> specify;
  HRESULT status = filter->QueryInterface(ISpecifyPropertyPages::iid, specify.ReleaseAndGetVoidAddress());
  if (status != S_OK) return status;
  CAUUID pages{};
  status = specify->GetPages(&pages);
  if (status != S_OK) return status;
  // From here the page list is freed on every way out.
  const std::unique_ptr<GUID, TaskMemFree> page_list(pages.pElems);
  status = filter->QueryFilterInfo(&info);
  // The graph reference is released once the frame has returned.
  const ComPtr<IFilterGraph> graph = ComPtr<IFilterGraph>::Adopt(info.pGraph);
  info.pGraph = nullptr;
  if (status == S_OK) status = OpenPropertyFrame(owner, info.achName, filter.Get(), pages);
  return status;
}

HRESULT ShowCodecDialog(OAHWND owner, const ComPtr<IBaseFilter>& filter) {
  ComPtr<IAMVfwCompressDialogs> dialogs;
  HRESULT status = filter->QueryInterface(IAMVfwCompressDialogs::iid, dialogs.ReleaseAndGetVoidAddress());
  if (status != S_OK) return status;
  status = dialogs->ShowDialog(VfwCompressDialog_QueryConfig, 0);
  if (status == S_OK) status = dialogs->ShowDialog(VfwCompressDialog_Config, owner);
  return status;
}

}  // namespace

HRESULT ShowFilterConfigDialog(OAHWND owner, IBaseFilter* filter, FilterDialogKind kind) {
  const ComPtr<IBaseFilter> held(filter);
  if (!held) return S_FALSE;
  FILTER_INFO info;
  std::memset(&info, 0, sizeof info);
  switch (kind) {
    case fdDefaultPages:
      return ShowPropertyPages(owner, held, info);
    case fdCodecConfig:
      return ShowCodecDialog(owner, held);
  }
  return S_FALSE;
}

void SetPropertyFrameForTesting(PropertyFrameFunction frame) { FrameOverride() = std::move(frame); }
