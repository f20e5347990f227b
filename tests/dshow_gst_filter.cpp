#include "platform/dshow/gst_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "dshow_test_filters.h"

namespace {

using namespace dshow_test;

class GstFilterTest : public DshowTest {};

// An input pin that is not GStreamer's.
class ForeignPin final : public ComObject<IPin> {
 public:
  HRESULT Connect(IPin*) override { return E_NOTIMPL; }
  HRESULT Disconnect() override { return S_FALSE; }
  HRESULT ConnectedTo(IPin** peer) override {
    *peer = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  HRESULT QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  HRESULT QueryFormats(char**) override { return E_NOTIMPL; }
};

std::string PinList(IBaseFilter* filter) {
  std::string text;
  for (const ComPtr<IPin>& pin : PinsOf(filter)) {
    PIN_INFO info{};
    EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
    ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    EXPECT_EQ(owner.Get(), filter);
    text += (text.empty() ? "" : " ") + Utf16ToUtf8(info.achName) +
            (info.dir == PINDIR_OUTPUT ? ":out" : ":in");
  }
  return text;
}

TEST_F(GstFilterTest, Pins_AreTheElementsAlwaysPadsInOrder) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"videoconvert", "sink:in src:out"},
      {"avenc_mpeg4", "sink:in src:out"},
      {"fakesink", "sink:in"},
      {"videotestsrc", "src:out"},
      {"tee", "sink:in"},  // its outputs are request pads: not pins
  };
  for (const auto& [factory, pins] : cases) {
    const ComPtr<IBaseFilter> filter = MakeElementFilter(factory);
    ASSERT_TRUE(filter) << factory;
    EXPECT_EQ(PinList(filter.Get()), pins) << factory;
  }
  EXPECT_EQ(PinList(MakePatternSource("I420").Get()), "src:out");  // a bin's ghost pad
}

TEST_F(GstFilterTest, MakeElementFilter_UnknownFactoryGivesNull) {
  EXPECT_FALSE(MakeElementFilter("no-such-element"));
  EXPECT_FALSE(MakeElementFilter(nullptr));
}

TEST_F(GstFilterTest, Pin_KeepsItsFilterAlive) {
  const long before = ComLiveObjectCount();
  ComPtr<IPin> pin;
  {
    const ComPtr<IBaseFilter> filter = MakeElementFilter("fakesink");
    pin = PinOf(filter.Get(), PINDIR_INPUT);
  }
  EXPECT_EQ(ComLiveObjectCount(), before + 1);
  EXPECT_STREQ(GST_OBJECT_NAME(PadOfPin(pin.Get())), "sink");
  pin = nullptr;
  EXPECT_EQ(ComLiveObjectCount(), before);
}

TEST_F(GstFilterTest, Helpers_AnswerOnlyForGStreamerFilters) {
  const ComPtr<IBaseFilter> element = MakeElementFilter("identity");
  const ComPtr<IBaseFilter> foreign = MakeComObject<RecordingFilter>();
  EXPECT_NE(ElementOfFilter(element.Get()), nullptr);
  EXPECT_EQ(ElementOfFilter(foreign.Get()), nullptr);
  const ComPtr<IPin> pin = PinOf(element.Get(), PINDIR_OUTPUT);
  EXPECT_EQ(FilterOfPin(pin.Get()), element);
  EXPECT_EQ(GST_PAD_PARENT(PadOfPin(pin.Get())), ElementOfFilter(element.Get()));
  EXPECT_EQ(PadOfPin(nullptr), nullptr);
  CLSID clsid{};
  EXPECT_EQ(element->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, GUID_NULL);
}

TEST_F(GstFilterTest, Pin_ConnectAnswersWhyItCannotLink) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IGraphBuilder> other_graph = MakeGraph();
  const ComPtr<IBaseFilter> yuy2 = MakePatternSource("YUY2");
  const ComPtr<IBaseFilter> i420 = MakePatternSource("I420");
  const ComPtr<IBaseFilter> encoder = MakeElementFilter("avenc_mpeg4");
  const ComPtr<IBaseFilter> elsewhere = MakeElementFilter("avenc_mpeg4");
  const ComPtr<IBaseFilter> loose = MakeElementFilter("avenc_mpeg4");
  const ComPtr<IPin> foreign_pin = MakeComObject<ForeignPin>();
  ASSERT_EQ(graph->AddFilter(yuy2.Get(), u"YUY2"), S_OK);
  ASSERT_EQ(graph->AddFilter(i420.Get(), u"I420"), S_OK);
  ASSERT_EQ(graph->AddFilter(encoder.Get(), u"Encoder"), S_OK);
  ASSERT_EQ(other_graph->AddFilter(elsewhere.Get(), u"Encoder"), S_OK);
  const ComPtr<IPin> yuy2_out = PinOf(yuy2.Get(), PINDIR_OUTPUT);
  const ComPtr<IPin> i420_out = PinOf(i420.Get(), PINDIR_OUTPUT);
  const ComPtr<IPin> encoder_in = PinOf(encoder.Get(), PINDIR_INPUT);

  struct Case {
    const char* what;
    IPin* output;
    IPin* input;
    HRESULT expected;
  };
  const Case cases[] = {
      {"null", i420_out.Get(), nullptr, E_POINTER},
      {"input asked to connect", encoder_in.Get(), i420_out.Get(), E_INVALIDARG},
      {"output to output", i420_out.Get(), yuy2_out.Get(), E_INVALIDARG},
      {"pin of a foreign filter", i420_out.Get(), foreign_pin.Get(), VFW_E_NO_ACCEPTABLE_TYPES},
      {"formats do not meet", yuy2_out.Get(), encoder_in.Get(), VFW_E_NO_ACCEPTABLE_TYPES},
      {"other graph", i420_out.Get(), PinOf(elsewhere.Get(), PINDIR_INPUT).Get(),
       VFW_E_NOT_IN_GRAPH},
      {"no graph", i420_out.Get(), PinOf(loose.Get(), PINDIR_INPUT).Get(), VFW_E_NOT_IN_GRAPH},
      {"formats meet", i420_out.Get(), encoder_in.Get(), S_OK},
      {"output taken", i420_out.Get(), encoder_in.Get(), VFW_E_ALREADY_CONNECTED},
      {"input taken", yuy2_out.Get(), encoder_in.Get(), VFW_E_ALREADY_CONNECTED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.output->Connect(c.input), c.expected) << c.what;
  }
  EXPECT_EQ(PeerFilterName(i420_out.Get()), "Encoder");
}

TEST_F(GstFilterTest, Pin_DisconnectBreaksBothEndsAndSaysWhenThereWasNothing) {
  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const ComPtr<IBaseFilter> source = MakePatternSource("I420");
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  const ComPtr<IPin> out = PinOf(source.Get(), PINDIR_OUTPUT);
  const ComPtr<IPin> in = PinOf(sink.Get(), PINDIR_INPUT);
  ASSERT_EQ(graph->ConnectDirect(out.Get(), in.Get()), S_OK);

  ComPtr<IPin> peer;
  ASSERT_EQ(in->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(peer, out);

  EXPECT_EQ(in->Disconnect(), S_OK);  // from the input end
  EXPECT_EQ(out->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  EXPECT_FALSE(peer);
  EXPECT_EQ(in->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->Disconnect(), S_FALSE);
  EXPECT_EQ(in->Disconnect(), S_FALSE);

  ASSERT_EQ(out->Connect(in.Get()), S_OK);  // and again, undone from the output end
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(in->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
}

TEST_F(GstFilterTest, Pin_QueryFormatsListsOneFormatPerLine) {
  const long blocks = CoTaskMemOutstanding();
  const ComPtr<IBaseFilter> source = MakePatternSource("I420");
  const ComPtr<IBaseFilter> encoder = MakeElementFilter("avenc_mpeg4");
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");

  const auto formats = [](IPin* pin) {
    char* text = nullptr;
    EXPECT_EQ(pin->QueryFormats(&text), S_OK);
    std::string result = text ? text : "(null)";
    CoTaskMemFree(text);
    return result;
  };
  EXPECT_EQ(formats(PinOf(source.Get(), PINDIR_OUTPUT).Get()),
            "video/x-raw, format=(string)I420, width=(int)160, height=(int)120, "
            "framerate=(fraction)30/1, multiview-mode=(string){ mono, left, right }");
  EXPECT_EQ(formats(PinOf(encoder.Get(), PINDIR_OUTPUT).Get()),
            "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false, "
            "profile=(string){ simple, advanced-simple }\n"
            "video/x-divx, divxversion=(int)5");
  EXPECT_EQ(formats(PinOf(sink.Get(), PINDIR_INPUT).Get()), "ANY");
  EXPECT_EQ(CoTaskMemOutstanding(), blocks);
}

TEST_F(GstFilterTest, StateChanges_ReadBackWithoutWaiting) {
  // A sink with nothing to show cannot preroll: pausing it stays pending.
  const ComPtr<IBaseFilter> sink = MakeElementFilter("fakesink");
  // A live source produces nothing in pause: no preroll, settled at once.
  const ComPtr<IBaseFilter> source = MakePatternSource("I420");

  struct Step {
    IBaseFilter* filter;
    const char* call;
    HRESULT expected_status;
    HRESULT expected_get_state;
    FILTER_STATE expected_state;
  };
  const Step steps[] = {
      {sink.Get(), "Pause", S_FALSE, VFW_S_STATE_INTERMEDIATE, State_Paused},
      {sink.Get(), "Stop", S_OK, S_OK, State_Stopped},
      {source.Get(), "Pause", S_OK, S_OK, State_Paused},
      {source.Get(), "Run", S_OK, S_OK, State_Running},
      {source.Get(), "Stop", S_OK, S_OK, State_Stopped},
  };
  for (const Step& step : steps) {
    const std::string call = step.call;
    const HRESULT status = call == "Run"     ? step.filter->Run(0)
                           : call == "Pause" ? step.filter->Pause()
                                             : step.filter->Stop();
    EXPECT_EQ(status, step.expected_status) << call;
    FILTER_STATE state = State_Running;
    EXPECT_EQ(step.filter->GetState(0, &state), step.expected_get_state) << call;
    EXPECT_EQ(state, step.expected_state) << call;
  }
}

TEST_F(GstFilterTest, QueryFilterInfo_NamesTheGraphCountedOrNone) {
  const ComPtr<IBaseFilter> filter = MakeElementFilter("identity");
  FILTER_INFO info{};
  ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"");
  EXPECT_EQ(info.pGraph, nullptr);

  const ComPtr<IGraphBuilder> graph = MakeGraph();
  const std::u16string long_name(200, u'x');
  ASSERT_EQ(graph->AddFilter(filter.Get(), long_name.c_str()), S_OK);
  ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), long_name.substr(0, MAX_FILTER_NAME - 1));
  ComPtr<IFilterGraph> in_graph = ComPtr<IFilterGraph>::Adopt(info.pGraph);
  EXPECT_EQ(in_graph.Get(), static_cast<IFilterGraph*>(graph.Get()));
}

}  // namespace
