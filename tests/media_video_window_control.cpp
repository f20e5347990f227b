#include "media/video_window_control.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/filter_graph.h"
#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"
#include "support/test_world.h"

namespace {

std::string Hex(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

class VideoWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallFakeWorld();
    form_ = std::make_unique<TForm>(nullptr);
    video_ = new TVideoWindow(form_.get());  // owned by the form
    video_->SetName("VideoWindow1");
    video_->SetParent(form_.get());
    video_->SetBounds(208, 128, 160, 120);
    video_->Loaded();
    graph_.SetMode(gmCapture);
    graph_.SetActive(true);
  }
  void TearDown() override {
    video_->SetFilterGraph(nullptr);
    form_.reset();
  }

  FakeFilter* Renderer() { return FakeFilter::From(video_->Renderer().Get()); }

  // Puts a fake decoder into the graph and connects it to the renderer.
  void ConnectRenderer() {
    decoder_ = MakeComObject<FakeFilter>(CLSID_FakeDecoder, FakeFilterConfig{.label = "Decoder"});
    graph_.GraphManager()->AddFilter(decoder_.Get(), u"DivxDecoderFilter");
    ASSERT_EQ(graph_.GraphManager()->ConnectDirect(decoder_->Output(), Renderer()->Input()), S_OK);
    Renderer()->ClearCalls();
    ClearJournal();
  }

  std::string Placement() const {
    const std::string style = Hex(static_cast<std::uint32_t>(video_->StoredWindowStyle()) |
                                  0x40000000u | 0x04000000u);
    return "put_Owner(" + Hex(form_->Handle()) + ") put_WindowStyle(" + style +
           ") put_WindowStyleEx(" + Hex(static_cast<std::uint32_t>(video_->StoredWindowStyleEx())) +
           ") SetWindowPosition(208, 128, 160, 120)";
  }
  std::string Naming() const { return "put_Caption(VideoWindow1) put_MessageDrain(" + Hex(video_->Handle()) + ")"; }

  TFilterGraph graph_{nullptr};
  std::unique_ptr<TForm> form_;
  TVideoWindow* video_ = nullptr;
  ComPtr<FakeFilter> decoder_;
};

TEST_F(VideoWindowTest, EntersWithANewRendererUnderItsNameAndTakesItsWindow) {
  video_->SetFilterGraph(&graph_);
  EXPECT_EQ(FakeCreatedCount(CLSID_VideoRenderer), 1);
  ASSERT_NE(Renderer(), nullptr);
  EXPECT_EQ(FakeFilterGraph::From(graph_.GraphManager().Get())->FilterNames(),
            std::vector<std::string>{"VideoWindow1"});
  EXPECT_EQ(JournalCalls("QueryInterface(IVideoWindow)"), "VideoWindow1.QueryInterface(IVideoWindow)");
  EXPECT_NE(video_->RendererWindow().Get(), nullptr);
  EXPECT_EQ(IntfCast<IBaseFilter>(*video_).Get(), video_->Renderer().Get());
  ASSERT_EQ(graph_.Listeners().size(), 1u);
  EXPECT_EQ(graph_.Listeners()[0], static_cast<GraphListener*>(video_));
}

TEST_F(VideoWindowTest, RendererWithoutWindowControlRaisesOnEntry) {
  FakeClassConfig(CLSID_VideoRenderer).offers_video_window = false;
  try {
    video_->SetFilterGraph(&graph_);
    FAIL() << "no error raised";
  } catch (const EDirectShowException& error) {
    EXPECT_EQ(error.ErrorCode(), E_NOINTERFACE);
    EXPECT_TRUE(std::string(error.what()).ends_with(" ($80004002).")) << error.what();
  }
}

TEST_F(VideoWindowTest, MissingRendererIsNotUsed) {
  UnregisterClass(CLSID_VideoRenderer);
  EXPECT_NO_THROW(video_->SetFilterGraph(&graph_));
  EXPECT_EQ(video_->Renderer().Get(), nullptr);
  EXPECT_THROW(IntfCast<IBaseFilter>(*video_), EIntfCastError);
  EXPECT_NO_THROW(graph_.RunGraph());
  EXPECT_NO_THROW(video_->SetFilterGraph(nullptr));
}

TEST_F(VideoWindowTest, LeavingStopsAndDisconnectsTheRenderer) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  ComPtr<IBaseFilter> kept = video_->Renderer();
  video_->SetFilterGraph(nullptr);
  EXPECT_EQ(Renderer() == nullptr, true);
  EXPECT_EQ(FakeFilter::From(kept.Get())->Calls(), "Stop() In.Disconnect() JoinFilterGraph(null)");
  EXPECT_TRUE(graph_.Listeners().empty());
  EXPECT_FALSE(decoder_->AnyPinConnected());
}

TEST_F(VideoWindowTest, FailingStopEndsTheLeavingWithItsStatus) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  Renderer()->SetAnswer("Stop", E_FAIL);
  ComPtr<IBaseFilter> kept = video_->Renderer();
  try {
    video_->SetFilterGraph(nullptr);
    FAIL() << "no error raised";
  } catch (const EDirectShowException& error) {
    EXPECT_TRUE(std::string(error.what()).ends_with(" ($80004005).")) << error.what();
  }
  EXPECT_EQ(FakeFilter::From(kept.Get())->Calls(), "Stop()");
  EXPECT_TRUE(graph_.Listeners().empty());
}

TEST_F(VideoWindowTest, PlayPlacesTheWindowOverTheControlWhenConnected) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  graph_.RunGraph();
  EXPECT_EQ(Renderer()->Calls(), Placement() + " " + Naming() + " Run()");
  EXPECT_NE(video_->StoredWindowStyle() & WS_CHILD, 0);
}

TEST_F(VideoWindowTest, PlayPlacesNothingWhileUnconnected) {
  video_->SetFilterGraph(&graph_);
  Renderer()->ClearCalls();
  EXPECT_TRUE(graph_.RunGraph());
  EXPECT_EQ(Renderer()->Calls(), "Run()");
}

TEST_F(VideoWindowTest, FailingPlacementEndsRunGraphBeforeTheRun) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  Renderer()->SetAnswer("SetWindowPosition", E_FAIL);
  EXPECT_THROW(graph_.RunGraph(), EDirectShowException);
  EXPECT_EQ(JournalCalls("Run()"), "");
}

struct FailingCallCase {
  const char* call;
  HRESULT status;
  int calls_made;  // of the six placement calls, the failing one included
};

class VideoWindowFailingPlacementTest : public VideoWindowTest,
                                        public testing::WithParamInterface<FailingCallCase> {};

TEST_P(VideoWindowFailingPlacementTest, EndsAtTheFailingCallWithItsStatusBeforeTheRun) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  Renderer()->SetAnswer(GetParam().call, GetParam().status);
  try {
    graph_.RunGraph();
    FAIL() << "no error raised";
  } catch (const EDirectShowException& error) {
    EXPECT_EQ(error.ErrorCode(), GetParam().status);
    const std::string suffix = " ($" + Hex(static_cast<std::uint32_t>(GetParam().status)) + ").";
    EXPECT_TRUE(std::string(error.what()).ends_with(suffix)) << error.what();
  }
  // The calls up to the failing one, read off the full placement.
  std::string expected = Placement() + " " + Naming();
  std::size_t end = 0;
  for (int i = 0; i < GetParam().calls_made; ++i) end = expected.find(')', end) + 1;
  expected.resize(end);
  EXPECT_EQ(Renderer()->Calls(), expected);  // no Run() among them
  EXPECT_EQ(FakeFilterGraph::From(graph_.GraphManager().Get())->State(), State_Stopped);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, VideoWindowFailingPlacementTest,
    testing::Values(FailingCallCase{"put_Owner", E_FAIL, 1},
                    FailingCallCase{"put_WindowStyle", E_INVALIDARG, 2},
                    FailingCallCase{"put_WindowStyleEx", E_FAIL, 3},
                    FailingCallCase{"SetWindowPosition", E_OUTOFMEMORY, 4},
                    FailingCallCase{"put_Caption", E_FAIL, 5},
                    FailingCallCase{"put_MessageDrain", E_UNEXPECTED, 6}),
    [](const auto& info) { return std::string(info.param.call); });

TEST_F(VideoWindowTest, SuccessStatusesOtherThanZeroPass) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  Renderer()->SetAnswer("put_Owner", S_FALSE);
  EXPECT_TRUE(graph_.RunGraph());
  EXPECT_EQ(Renderer()->Calls(), Placement() + " " + Naming() + " Run()");
}

struct PinCase {
  const char* name;
  int inputs;
  int connected;  // index of the connected input, or -1
  bool placed;
};

class VideoWindowPinTest : public VideoWindowTest, public testing::WithParamInterface<PinCase> {};

// Any connected pin of the renderer counts, whichever place it has.
TEST_P(VideoWindowPinTest, PlacesWhenAnyRendererPinHasAPeer) {
  FakeClassConfig(CLSID_VideoRenderer).inputs = GetParam().inputs;
  video_->SetFilterGraph(&graph_);
  decoder_ = MakeComObject<FakeFilter>(CLSID_FakeDecoder, FakeFilterConfig{.label = "Decoder"});
  graph_.GraphManager()->AddFilter(decoder_.Get(), u"DivxDecoderFilter");
  if (GetParam().connected >= 0) {
    ASSERT_EQ(graph_.GraphManager()->ConnectDirect(decoder_->Output(),
                                                   Renderer()->Input(GetParam().connected)),
              S_OK);
  }
  Renderer()->ClearCalls();
  EXPECT_TRUE(graph_.RunGraph());
  EXPECT_EQ(Renderer()->Calls(), GetParam().placed ? Placement() + " " + Naming() + " Run()" : "Run()");
}

INSTANTIATE_TEST_SUITE_P(Pins, VideoWindowPinTest,
                         testing::Values(PinCase{"OneOfOneConnected", 1, 0, true},
                                         PinCase{"SecondOfThreeConnected", 3, 1, true},
                                         PinCase{"LastOfThreeConnected", 3, 2, true},
                                         PinCase{"NoneOfThreeConnected", 3, -1, false},
                                         PinCase{"NoPins", 0, -1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoWindowTest, PlacementFollowsTheControlAndAnUnnamedControlGivesNoCaption) {
  video_->SetFilterGraph(&graph_);
  ConnectRenderer();
  video_->SetBounds(10, 20, 300, 200);
  video_->SetName("");
  graph_.RunGraph();
  const std::string calls = Renderer()->Calls();
  EXPECT_NE(calls.find("SetWindowPosition(10, 20, 300, 200)"), std::string::npos) << calls;
  EXPECT_EQ(calls.find("put_Caption"), std::string::npos) << calls;
  EXPECT_TRUE(calls.ends_with("put_MessageDrain(" + Hex(video_->Handle()) + ") Run()")) << calls;
}

struct EventCase {
  const char* name;
  LONG code;
  bool connected;
  TVMRVideoMode vmr_mode;
  bool placement;
  bool naming;
};

class VideoWindowEventTest : public VideoWindowTest, public testing::WithParamInterface<EventCase> {};

TEST_P(VideoWindowEventTest, ReactsToPaletteAndRenderDeviceEvents) {
  video_->VMROptions().Mode = GetParam().vmr_mode;
  video_->SetFilterGraph(&graph_);
  if (GetParam().connected) {
    ConnectRenderer();
  } else {
    Renderer()->ClearCalls();
  }
  FakeFilterGraph::From(graph_.GraphManager().Get())->QueueEvent(GetParam().code, 0, 0);
  ProcessMessages();
  std::string expected;
  if (GetParam().placement) expected = Placement();
  if (GetParam().naming) expected += (expected.empty() ? "" : " ") + Naming();
  EXPECT_EQ(Renderer()->Calls(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Events, VideoWindowEventTest,
    testing::Values(EventCase{"PaletteConnected", 9, true, vmrWindowed, true, true},
                    EventCase{"PaletteUnconnected", 9, false, vmrWindowed, false, true},
                    EventCase{"RenderDeviceWindowed", 83, true, vmrWindowed, false, true},
                    EventCase{"RenderDeviceWindowless", 83, true, vmrWindowless, false, false},
                    EventCase{"Other", 1, true, vmrWindowed, false, false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
