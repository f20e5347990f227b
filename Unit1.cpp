#include "Unit1.h"

#include <arpa/inet.h>

#include <cstdint>

#include "media/directshow_error.h"
#include "media/filter_config_dialog.h"
#include "media/graph_event_text.h"
#include "net/endpoint.h"
#include "net/net_endpoint_config.h"
#include "platform/dshow/graph.h"

std::unique_ptr<TForm1> TForm1::Create(std::string_view layout) {
  auto form = std::make_unique<TForm1>(nullptr);
  ReadComponentResource(*form, layout);
  return form;
}

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  BindField("GO", &GO);
  BindField("Memo1", &Memo1);
  BindField("Button4", &Button4);
  BindField("Button5", &Button5);
  BindField("Button6", &Button6);
  BindField("Button7", &Button7);
  BindField("Button8", &Button8);
  BindField("Button9", &Button9);
  BindField("Button10", &Button10);
  BindField("VideoWindow1", &VideoWindow1);
  BindField("Button1", &Button1);
  BindField("Button2", &Button2);
  BindField("FilterGraph", &FilterGraph);
  BindField("DivXEncoder", &DivXEncoder);
  BindField("SenderFilter", &SenderFilter);
  BindField("SourceFilter", &SourceFilter);
  BindField("FilterGraph1", &FilterGraph1);
  BindField("ReceiveFilter", &ReceiveFilter);
  BindField("DivxDecoderFilter", &DivxDecoderFilter);
  BindField("RederFilter", &RederFilter);

  auto click = [this](void (TForm1::*handler)(TObject*)) {
    return TNotifyEvent([this, handler](TObject* sender) { (this->*handler)(sender); });
  };
  RegisterHandler("GOClick", click(&TForm1::GOClick));
  RegisterHandler("Button4Click", click(&TForm1::Button4Click));
  RegisterHandler("Button1Click", click(&TForm1::Button1Click));
  RegisterHandler("Button2Click", click(&TForm1::Button2Click));
  RegisterHandler("Button5Click", click(&TForm1::Button5Click));
  RegisterHandler("Button6Click", click(&TForm1::Button6Click));
  RegisterHandler("Button7Click", click(&TForm1::Button7Click));
  RegisterHandler("Button8Click", click(&TForm1::Button8Click));
  RegisterHandler("Button9Click", click(&TForm1::Button9Click));
  RegisterHandler("Button10Click", click(&TForm1::Button10Click));
  RegisterHandler("FormCloseQuery", TCloseQueryEvent([this](TObject* sender, bool& can_close) {
                    FormCloseQuery(sender, can_close);
                  }));
  RegisterHandler("FilterGraphDSEvent",
                  TOnDSEvent([this](TObject* sender, LONG event, LONG param1, LONG param2) {
                    FilterGraphDSEvent(sender, event, param1, param2);
                  }));
}

TForm1::~TForm1() = default;

void TForm1::GOClick(TObject*) {
  FilterGraph->SetActive(true);
  const ComPtr<ICaptureGraphBuilder2> builder = IntfCast<ICaptureGraphBuilder2>(*FilterGraph);
  const ComPtr<IBaseFilter> sender = IntfCast<IBaseFilter>(*SenderFilter);
  const ComPtr<IBaseFilter> encoder = IntfCast<IBaseFilter>(*DivXEncoder);
  const ComPtr<IBaseFilter> camera = IntfCast<IBaseFilter>(*SourceFilter);
  builder->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), sender.Get());
  FilterGraph->RunGraph();
}

void TForm1::Button4Click(TObject*) {
  FilterGraph1->SetActive(true);
  const ComPtr<ICaptureGraphBuilder2> builder = IntfCast<ICaptureGraphBuilder2>(*FilterGraph1);
  const ComPtr<IBaseFilter> renderer = IntfCast<IBaseFilter>(*VideoWindow1);
  const ComPtr<IBaseFilter> decoder = IntfCast<IBaseFilter>(*DivxDecoderFilter);
  const ComPtr<IBaseFilter> receiver = IntfCast<IBaseFilter>(*ReceiveFilter);
  builder->RenderStream(nullptr, nullptr, receiver.Get(), decoder.Get(), renderer.Get());
  FilterGraph1->RunGraph();
}

void TForm1::SetEndpoint(TFilter& slot) {
  ComPtr<INetEndpointConfig> config;
  const ComPtr<IBaseFilter> filter = IntfCast<IBaseFilter>(slot);
  filter->QueryInterface(INetEndpointConfig::iid, config.ReleaseAndGetVoidAddress());
  // The status is not examined; a filter without the interface gets no calls.
  if (!config) return;
  const std::uint32_t address = inet_addr(net::kGroupAddress);
  const std::uint32_t port = htons(net::kPort);  // widened: the high bits are zero
  config->SetEndpoint(address, port);
  config->SetParameter(net::kDefaultParameter);
}

void TForm1::Button1Click(TObject*) { SetEndpoint(*SenderFilter); }

void TForm1::Button2Click(TObject*) { SetEndpoint(*ReceiveFilter); }

void TForm1::ShowConfig(TFilter& slot, FilterDialogKind kind) {
  const OAHWND owner = Handle();
  const ComPtr<IBaseFilter> filter = IntfCast<IBaseFilter>(slot);
  ShowFilterConfigDialog(owner, filter.Get(), kind);  // the status is not examined
}

void TForm1::Button5Click(TObject*) { ShowConfig(*ReceiveFilter, fdDefaultPages); }

void TForm1::Button6Click(TObject*) { ShowConfig(*DivxDecoderFilter, fdCodecConfig); }

void TForm1::Button7Click(TObject*) { ShowConfig(*RederFilter, fdDefaultPages); }

void TForm1::Button8Click(TObject*) { ShowConfig(*SourceFilter, fdDefaultPages); }

void TForm1::Button9Click(TObject*) { ShowConfig(*DivXEncoder, fdCodecConfig); }

void TForm1::Button10Click(TObject*) { ShowConfig(*SenderFilter, fdDefaultPages); }

void TForm1::FormCloseQuery(TObject*, bool&) {
  FilterGraph->StripGraph();
  FilterGraph->SetActive(false);
}

void TForm1::FilterGraphDSEvent(TObject*, LONG Event, LONG, LONG) {
  Memo1->Lines().Add(GraphEventText(Event));
}
