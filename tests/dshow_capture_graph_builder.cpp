#include "platform/dshow/capture_graph_builder.h"

#include <gtest/gtest.h>

#include <string>

#include "dshow_test_filters.h"

namespace {

using namespace dshow_test;

class CaptureGraphBuilderTest : public DshowTest {
 protected:
  void SetUp() override {
    DshowTest::SetUp();
    graph_ = MakeGraph();
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, &builder_), S_OK);
    ASSERT_EQ(builder_->SetFiltergraph(graph_.Get()), S_OK);
  }
  void TearDown() override {
    builder_ = nullptr;
    graph_ = nullptr;
    DshowTest::TearDown();
  }

  ComPtr<IBaseFilter> Add(ComPtr<IBaseFilter> filter, const char16_t* name) {
    EXPECT_TRUE(filter);
    EXPECT_EQ(graph_->AddFilter(filter.Get(), name), S_OK);
    return filter;
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<ICaptureGraphBuilder2> builder_;
};

// The chain as it stands, following the first output of each filter from `first`.
std::string Chain(IBaseFilter* first) {
  std::string chain = NameOf(first);
  ComPtr<IBaseFilter> filter(first);
  while (const ComPtr<IPin> out = PinOf(filter.Get(), PINDIR_OUTPUT)) {
    ComPtr<IPin> peer;
    if (FAILED(out->ConnectedTo(peer.ReleaseAndGetAddressOf()))) break;
    filter = FilterOfPin(peer.Get());
    chain += " > " + NameOf(filter.Get());
  }
  return chain;
}

TEST_F(CaptureGraphBuilderTest, RenderStream_AddsAConverterOnlyWhereFormatsDoNotMeet) {
  struct Case {
    const char* camera_format;
    const char* expected_chain;
  };
  const Case cases[] = {
      {"I420", "Camera > Encoder > Sender"},
      {"YUY2", "Camera > Color Space Converter > Encoder > Sender"},
  };
  for (const Case& c : cases) {
    // A graph of its own for each case.
    const ComPtr<IGraphBuilder> graph = MakeGraph();
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, &builder), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    const ComPtr<IBaseFilter> camera = MakePatternSource(c.camera_format);
    const ComPtr<IBaseFilter> encoder = MakeElementFilter("avenc_mpeg4");
    const ComPtr<IBaseFilter> sender = MakeElementFilter("fakesink");
    ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
    ASSERT_EQ(graph->AddFilter(encoder.Get(), u"Encoder"), S_OK);
    ASSERT_EQ(graph->AddFilter(sender.Get(), u"Sender"), S_OK);
    EXPECT_EQ(builder->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), sender.Get()),
              S_OK)
        << c.camera_format;
    EXPECT_EQ(Chain(camera.Get()), c.expected_chain);
  }
}

TEST_F(CaptureGraphBuilderTest, RenderStream_RenderedChainCarriesEncodedFrames) {
  const ComPtr<IBaseFilter> camera = Add(MakePatternSource("YUY2"), u"Camera");
  const ComPtr<IBaseFilter> encoder = Add(MakeElementFilter("avenc_mpeg4"), u"Encoder");
  const ComPtr<IBaseFilter> sender = Add(MakeElementFilter("fakesink"), u"Sender");
  ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), sender.Get()),
            S_OK);
  BufferCounter frames(sender.Get());
  const ComPtr<IMediaControl> control = As<IMediaControl>(graph_.Get());
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  ASSERT_TRUE(frames.WaitFor(5));
  ComPtr<IPin> encoded;
  ASSERT_EQ(PinOf(sender.Get(), PINDIR_INPUT)->ConnectedTo(encoded.ReleaseAndGetAddressOf()), S_OK);
  const GstCapsRef caps = GstCapsRef::Adopt(gst_pad_get_current_caps(PadOfPin(encoded.Get())));
  ASSERT_TRUE(caps);
  EXPECT_TRUE(gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "video/mpeg"));
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(CaptureGraphBuilderTest, RenderStream_PartialWhenOnlyTheFirstHopConnects) {
  const ComPtr<IBaseFilter> camera = Add(MakePatternSource("I420"), u"Camera");
  const ComPtr<IBaseFilter> encoder = Add(MakeElementFilter("avenc_mpeg4"), u"Encoder");
  // Takes raw pictures only: nothing turns MPEG-4 back into them.
  const ComPtr<IBaseFilter> raw_only = Add(MakeElementFilter("videoconvert"), u"RawOnly");
  EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), raw_only.Get()),
            VFW_S_PARTIAL_RENDER);
  EXPECT_EQ(Chain(camera.Get()), "Camera > Encoder");
  EXPECT_EQ(FilterNames(graph_.Get()), "Camera, Encoder, RawOnly");  // tried converters are gone
}

TEST_F(CaptureGraphBuilderTest, RenderStream_CannotConnectWhenTheFirstHopFails) {
  const ComPtr<IBaseFilter> camera = Add(MakePatternSource("I420"), u"Camera");
  const ComPtr<IBaseFilter> parser = Add(MakeElementFilter("mpeg4videoparse"), u"Parser");
  const ComPtr<IBaseFilter> sink = Add(MakeElementFilter("fakesink"), u"Sink");
  EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, camera.Get(), parser.Get(), sink.Get()),
            VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(Chain(camera.Get()), "Camera");
  EXPECT_EQ(Chain(parser.Get()), "Parser");
  EXPECT_EQ(FilterNames(graph_.Get()), "Camera, Parser, Sink");

  // Everything already connected: a second render finds no free output.
  const ComPtr<IBaseFilter> encoder = Add(MakeElementFilter("avenc_mpeg4"), u"Encoder");
  ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), sink.Get()),
            S_OK);
  EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, camera.Get(), encoder.Get(), sink.Get()),
            VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(Chain(camera.Get()), "Camera > Encoder > Sink");
}

TEST_F(CaptureGraphBuilderTest, RenderStream_TakesAnOutputPinOrSkipsAMissingHop) {
  const ComPtr<IBaseFilter> camera = Add(MakePatternSource("I420"), u"Camera");
  const ComPtr<IBaseFilter> encoder = Add(MakeElementFilter("avenc_mpeg4"), u"Encoder");
  const ComPtr<IBaseFilter> sink = Add(MakeElementFilter("fakesink"), u"Sink");
  const ComPtr<IPin> camera_out = PinOf(camera.Get(), PINDIR_OUTPUT);
  EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, camera_out.Get(), encoder.Get(), nullptr),
            S_OK);
  EXPECT_EQ(Chain(camera.Get()), "Camera > Encoder");
  EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, encoder.Get(), nullptr, sink.Get()), S_OK);
  EXPECT_EQ(Chain(camera.Get()), "Camera > Encoder > Sink");
}

TEST_F(CaptureGraphBuilderTest, RenderStream_RefusesWhatItCannotDo) {
  const ComPtr<IBaseFilter> camera = Add(MakePatternSource("I420"), u"Camera");
  const ComPtr<IBaseFilter> sink = Add(MakeElementFilter("fakesink"), u"Sink");
  const GUID category = MakeGuid("{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
  const ComPtr<IPin> sink_in = PinOf(sink.Get(), PINDIR_INPUT);
  ComPtr<ICaptureGraphBuilder2> unbound;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, &unbound), S_OK);

  struct Case {
    const char* what;
    ICaptureGraphBuilder2* builder;
    const GUID* category;
    const GUID* type;
    IUnknown* source;
    IBaseFilter* sink;
    HRESULT expected;
  };
  const Case cases[] = {
      {"pin category", builder_.Get(), &category, nullptr, camera.Get(), sink.Get(), E_INVALIDARG},
      {"media type", builder_.Get(), nullptr, &category, camera.Get(), sink.Get(), E_INVALIDARG},
      {"no graph", unbound.Get(), nullptr, nullptr, camera.Get(), sink.Get(), E_UNEXPECTED},
      {"no source", builder_.Get(), nullptr, nullptr, nullptr, sink.Get(), E_POINTER},
      {"input pin as source", builder_.Get(), nullptr, nullptr, sink_in.Get(), sink.Get(),
       E_INVALIDARG},
      {"nowhere to go", builder_.Get(), nullptr, nullptr, camera.Get(), nullptr, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.builder->RenderStream(c.category, c.type, c.source, nullptr, c.sink), c.expected)
        << c.what;
  }
  EXPECT_EQ(Chain(camera.Get()), "Camera");
}

TEST_F(CaptureGraphBuilderTest, Filtergraph_IsSetOnceAndHandedBackCounted) {
  ComPtr<IGraphBuilder> held;
  ASSERT_EQ(builder_->GetFiltergraph(held.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(held, graph_);
  EXPECT_EQ(builder_->SetFiltergraph(MakeGraph().Get()), E_UNEXPECTED);
  EXPECT_EQ(builder_->SetFiltergraph(nullptr), E_POINTER);

  ComPtr<ICaptureGraphBuilder2> unbound;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, &unbound), S_OK);
  EXPECT_EQ(unbound->GetFiltergraph(held.ReleaseAndGetAddressOf()), E_UNEXPECTED);
  EXPECT_FALSE(held);
}

}  // namespace
