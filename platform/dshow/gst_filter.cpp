#include "platform/dshow/gst_filter.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/com/com.h"
#include "platform/dshow/gst_states.h"

namespace {

// Answered by the pins of GstFilter alone: how PadOfPin tells them from others.
struct IGstPadPin : IUnknown {
  static constexpr IID iid = MakeGuid("{5C0E2B7A-94D1-4E3F-8A26-1F7B3C9D0E48}");
  virtual GstPad* Pad() = 0;
};

// Each pad of a filter's element points back at its pin (uncounted: the filter
// owns both and clears the mark before it goes).
GQuark PinQuark() {
  static const GQuark quark = g_quark_from_static_string("presenter-link-pin");
  return quark;
}

bool IsAlwaysPad(GstPad* pad) {
  if (GST_PAD_DIRECTION(pad) == GST_PAD_UNKNOWN) return false;
  GstPadTemplate* templ = GST_PAD_PAD_TEMPLATE(pad);
  return !templ || GST_PAD_TEMPLATE_PRESENCE(templ) == GST_PAD_ALWAYS;  // ghost pads have none
}

template <std::size_t N>
void CopyName(const std::u16string& name, WCHAR (&out)[N]) {
  const std::size_t length = std::min(name.size(), N - 1);
  std::copy_n(name.data(), length, out);
  out[length] = u'\0';
}

HRESULT StatusOfLink(GstPadLinkReturn link) {
  switch (link) {
    case GST_PAD_LINK_OK:
      return S_OK;
    case GST_PAD_LINK_WRONG_HIERARCHY:
      return VFW_E_NOT_IN_GRAPH;
    case GST_PAD_LINK_WAS_LINKED:
      return VFW_E_ALREADY_CONNECTED;
    case GST_PAD_LINK_WRONG_DIRECTION:
      return E_INVALIDARG;
    case GST_PAD_LINK_NOFORMAT:
      return VFW_E_NO_ACCEPTABLE_TYPES;
    case GST_PAD_LINK_NOSCHED:
    case GST_PAD_LINK_REFUSED:
      break;
  }
  return VFW_E_CANNOT_CONNECT;
}

// The bin an element of this pad stands in (the graph's pipeline), or null.
GstElementRef ContainerOf(GstPad* pad) {
  GstElementRef element = GstElementRef::Adopt(gst_pad_get_parent_element(pad));
  if (!element) return {};
  GstObject* parent = gst_object_get_parent(GST_OBJECT(element.get()));
  return GstElementRef::Adopt(parent ? GST_ELEMENT(parent) : nullptr);
}

// A stock element wrapped as it is.
class ElementFilter final : public GstFilter {
 public:
  ElementFilter(GstElement* element, REFCLSID clsid) : GstFilter(clsid) { SetElement(element); }
};

}  // namespace

// A pin is a view of one pad; it lives and dies with its filter, so its
// reference count is the filter's.
class GstFilter::Pin final : public IPin, public IGstPadPin {
 public:
  Pin(GstFilter* filter, GstPad* pad)
      : filter_(filter),
        pad_(GstPadRef::Share(pad)),
        direction_(GST_PAD_DIRECTION(pad) == GST_PAD_SRC ? PINDIR_OUTPUT : PINDIR_INPUT) {
    GCharOwner name(gst_pad_get_name(pad));
    name_ = Utf8ToUtf16(name.c_str());
    g_object_set_qdata(G_OBJECT(pad), PinQuark(), this);
  }
  ~Pin() { g_object_set_qdata(G_OBJECT(pad_.get()), PinQuark(), nullptr); }

  static Pin* OfPad(GstPad* pad) {
    return static_cast<Pin*>(g_object_get_qdata(G_OBJECT(pad), PinQuark()));
  }

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IUnknown::iid || riid == IPin::iid) {
      *object = static_cast<IPin*>(this);
    } else if (riid == IGstPadPin::iid) {
      *object = static_cast<IGstPadPin*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return filter_->AddRef(); }
  ULONG Release() override { return filter_->Release(); }

  // IPin
  HRESULT Connect(IPin* receive_pin) override {
    if (!receive_pin) return E_POINTER;
    if (direction_ != PINDIR_OUTPUT) return E_INVALIDARG;
    GstPad* sink = PadOfPin(receive_pin);
    if (!sink) return VFW_E_NO_ACCEPTABLE_TYPES;  // a pin we cannot hand data to
    if (GST_PAD_DIRECTION(sink) != GST_PAD_SINK) return E_INVALIDARG;
    if (gst_pad_is_linked(pad_.get()) || gst_pad_is_linked(sink)) return VFW_E_ALREADY_CONNECTED;

    // GStreamer would link two loose elements; a graph only links its own members.
    const GstElementRef ours = ContainerOf(pad_.get());
    const GstElementRef theirs = ContainerOf(sink);
    if (!ours || ours.get() != theirs.get()) return VFW_E_NOT_IN_GRAPH;

    const GstCapsRef given = GstCapsRef::Adopt(gst_pad_query_caps(pad_.get(), nullptr));
    const GstCapsRef taken = GstCapsRef::Adopt(gst_pad_query_caps(sink, nullptr));
    if (!given || !taken || !gst_caps_can_intersect(given.get(), taken.get())) {
      return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    return StatusOfLink(gst_pad_link(pad_.get(), sink));
  }

  HRESULT Disconnect() override {
    const GstPadRef peer = GstPadRef::Adopt(gst_pad_get_peer(pad_.get()));
    if (!peer) return S_FALSE;
    const bool unlinked = direction_ == PINDIR_OUTPUT ? gst_pad_unlink(pad_.get(), peer.get())
                                                      : gst_pad_unlink(peer.get(), pad_.get());
    return unlinked ? S_OK : S_FALSE;
  }

  HRESULT ConnectedTo(IPin** peer) override {
    if (!peer) return E_POINTER;
    *peer = nullptr;
    const GstPadRef other = GstPadRef::Adopt(gst_pad_get_peer(pad_.get()));
    Pin* pin = other ? OfPad(other.get()) : nullptr;
    if (!pin) return VFW_E_NOT_CONNECTED;  // unlinked, or linked to no filter's pin
    pin->AddRef();
    *peer = pin;
    return S_OK;
  }

  HRESULT QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
  }

  HRESULT QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    filter_->AddRef();
    info->pFilter = filter_;
    info->dir = direction_;
    CopyName(name_, info->achName);
    return S_OK;
  }

  HRESULT QueryFormats(char** formats) override {
    if (!formats) return E_POINTER;
    const GstCapsRef caps = GstCapsRef::Adopt(gst_pad_query_caps(pad_.get(), nullptr));
    std::string text;
    if (caps && gst_caps_is_any(caps.get())) {
      text = "ANY";
    } else if (caps) {
      for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i) {
        const GstCapsRef one = GstCapsRef::Adopt(gst_caps_copy_nth(caps.get(), i));
        const GCharOwner line(gst_caps_to_string(one.get()));
        if (!text.empty()) text += '\n';
        text += line.c_str();
      }
    }
    auto* block = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, text.c_str(), text.size() + 1);
    *formats = block;
    return S_OK;
  }

  // IGstPadPin
  GstPad* Pad() override { return pad_.get(); }

 private:
  GstFilter* const filter_;  // owns this pin
  const GstPadRef pad_;
  const PIN_DIRECTION direction_;
  std::u16string name_;
};

class GstFilter::PinEnumerator final : public ComObject<IEnumPins> {
 public:
  explicit PinEnumerator(GstFilter* filter) : filter_(filter) {}

  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    ULONG handed = 0;
    const auto& all = filter_->pins_;
    while (handed < count && next_ < all.size()) {
      Pin* pin = all[next_++];
      pin->AddRef();
      pins[handed++] = pin;
    }
    if (fetched) *fetched = handed;
    return handed == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const std::size_t left = filter_->pins_.size() - next_;
    next_ += std::min<std::size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  const ComPtr<GstFilter> filter_;  // keeps the pins alive
  std::size_t next_ = 0;
};

GstFilter::GstFilter(REFCLSID clsid) : clsid_(clsid) { EnsureGStreamer(); }

GstFilter::~GstFilter() {
  for (Pin* pin : pins_) delete pin;
}

void GstFilter::SetElement(GstElement* element) {
  // Take over the caller's reference, floating or not.
  if (g_object_is_floating(element)) gst_object_ref_sink(element);
  element_ = GstElementRef::Adopt(element);

  std::vector<GstPadRef> pads;
  GST_OBJECT_LOCK(element);
  for (GList* item = GST_ELEMENT_PADS(element); item; item = item->next) {
    GstPad* pad = GST_PAD(item->data);
    if (IsAlwaysPad(pad)) pads.push_back(GstPadRef::Share(pad));
  }
  GST_OBJECT_UNLOCK(element);
  for (const GstPadRef& pad : pads) pins_.push_back(new Pin(this, pad.get()));
}

HRESULT GstFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT GstFilter::Stop() {
  if (!element_) return E_UNEXPECTED;
  return StatusOfStateChange(gst_element_set_state(element_.get(), GST_STATE_NULL));
}

HRESULT GstFilter::Pause() {
  if (!element_) return E_UNEXPECTED;
  return StatusOfStateChange(gst_element_set_state(element_.get(), GST_STATE_PAUSED));
}

HRESULT GstFilter::Run(REFERENCE_TIME /*start*/) {
  // The pipeline's clock and base time govern when frames are due.
  if (!element_) return E_UNEXPECTED;
  return StatusOfStateChange(gst_element_set_state(element_.get(), GST_STATE_PLAYING));
}

HRESULT GstFilter::GetState(DWORD timeout_ms, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  if (!element_) return E_UNEXPECTED;
  return ElementState(element_.get(), WaitOf(timeout_ms), state);
}

HRESULT GstFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = MakeComObject<PinEnumerator>(this).Detach();
  return S_OK;
}

HRESULT GstFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CopyName(name_, info->achName);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT GstFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  graph_ = graph;
  name_ = graph && name ? std::u16string(name) : std::u16string();
  return S_OK;
}

void GstFilter::PostGraphEvent(LONG code, LONG param1, LONG param2) {
  if (!element_) return;
  GstStructure* event = gst_structure_new(kGraphEventMessage, "code", G_TYPE_INT, gint{code},
                                          "param1", G_TYPE_INT, gint{param1}, "param2",
                                          G_TYPE_INT, gint{param2}, nullptr);
  // Outside a graph the element has no bus and the message is dropped.
  gst_element_post_message(element_.get(),
                           gst_message_new_element(GST_OBJECT(element_.get()), event));
}

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

GstPad* PadOfPin(IPin* pin) {
  ComPtr<IGstPadPin> ours;
  if (!pin || FAILED(pin->QueryInterface(IGstPadPin::iid, ours.ReleaseAndGetVoidAddress()))) {
    return nullptr;
  }
  return ours->Pad();  // borrowed: the pin's filter keeps the pad
}

GstElement* ElementOfFilter(IUnknown* filter) {
  ComPtr<IGstElementFilter> backed;
  if (!filter ||
      FAILED(filter->QueryInterface(IGstElementFilter::iid, backed.ReleaseAndGetVoidAddress()))) {
    return nullptr;
  }
  return backed->Element();
}

ComPtr<IBaseFilter> MakeElementFilter(const char* factory, REFCLSID clsid) {
  EnsureGStreamer();
  if (!factory) return nullptr;
  GstElement* element = gst_element_factory_make(factory, nullptr);
  if (!element) return nullptr;
  return MakeComObject<ElementFilter>(element, clsid);
}
