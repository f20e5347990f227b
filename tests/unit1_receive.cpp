// Receive (Button4Click) on the window with fake graphs and filters: the order of
// its requests, the render, the placement of the renderer's window and the run,
// and what each failure leaves behind.
#include "Unit1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

std::string Hex(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

class ReceiveTest : public testing::Test {
 protected:
  void SetUp() override { InstallFakeWorld(); }
  void TearDown() override { form_.reset(); }

  void Create(const std::string& layout = FakeFilterLayout()) {
    form_ = TForm1::Create(layout);
    ASSERT_NE(form_, nullptr);
    form_->Show();
  }
  FakeFilterGraph* ReceiveGraph() {
    return FakeFilterGraph::From(form_->FilterGraph1->GraphManager().Get());
  }
  FakeFilter* Renderer() { return FakeFilter::From(form_->VideoWindow1->Renderer().Get()); }
  FakeFilter* FilterOf(TFilter* slot) { return FakeFilter::From(slot->Instance().Get()); }

  // The six placement calls with the arguments the window must pass, the first `count`.
  std::string Placement(int count = 6) const {
    const auto style = static_cast<std::uint32_t>(form_->VideoWindow1->StoredWindowStyle()) |
                       0x40000000u | 0x04000000u;
    const std::string calls[] = {
        "VideoWindow1.put_Owner(" + Hex(form_->Handle()) + ")",
        "VideoWindow1.put_WindowStyle(" + Hex(style) + ")",
        "VideoWindow1.put_WindowStyleEx(" +
            Hex(static_cast<std::uint32_t>(form_->VideoWindow1->StoredWindowStyleEx())) + ")",
        "VideoWindow1.SetWindowPosition(208, 128, 160, 120)",
        "VideoWindow1.put_Caption(VideoWindow1)",
        "VideoWindow1.put_MessageDrain(" + Hex(form_->VideoWindow1->Handle()) + ")"};
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? " " : "") + calls[i];
    return text;
  }
  // The journal entries of the renderer's window control.
  static std::string WindowCalls() {
    std::string calls;
    for (const std::string& entry : JournalEntries()) {
      if (entry.starts_with("VideoWindow1.put_") || entry.starts_with("VideoWindow1.SetWindow")) {
        calls += (calls.empty() ? "" : " ") + entry;
      }
    }
    return calls;
  }
  // The journal without the builder's converter and the filters' own Run calls.
  static std::string HandlerCalls() {
    std::string calls;
    for (const std::string& entry : JournalEntries()) {
      if (entry.starts_with("Converter.") || entry == "Graph#1.AddFilter(Converter)" ||
          (entry.ends_with(".Run()") && !entry.starts_with("Graph#"))) {
        continue;
      }
      calls += (calls.empty() ? "" : " ") + entry;
    }
    return calls;
  }

  std::unique_ptr<TForm1> form_;
};

TEST_F(ReceiveTest, RequestsRenderPlacementThenRunWithTheirArguments) {
  Create();
  // The stored styles are those of a visible child control, read at load time.
  EXPECT_NE(form_->VideoWindow1->StoredWindowStyle() & WS_VISIBLE, 0);
  EXPECT_NE(form_->VideoWindow1->StoredWindowStyle() & WS_CHILD, 0);
  ReportedErrors errors;
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "");
  // No endpoint is set or asked for, nothing is created or added by the handler.
  EXPECT_EQ(HandlerCalls(),
            "Builder#1.QueryInterface(ICaptureGraphBuilder2) "
            "VideoWindow1.QueryInterface(IBaseFilter) "
            "DivxDecoderFilter.QueryInterface(IBaseFilter) "
            "ReceiveFilter.QueryInterface(IBaseFilter) "
            "Builder#1.RenderStream(ReceiveFilter, DivxDecoderFilter, VideoWindow1) "
            "ReceiveFilter.Out.Connect() DivxDecoderFilter.Out.Connect() "
            "Builder#1.QueryInterface(IMediaControl) Graph#1.QueryInterface(IMediaControl) " +
                Placement() + " Graph#1.Run()");
  EXPECT_EQ(ReceiveGraph()->State(), State_Running);
  EXPECT_TRUE(FilterOf(form_->ReceiveFilter)->AnyPinConnected());
  EXPECT_TRUE(Renderer()->AnyPinConnected());
}

TEST_F(ReceiveTest, FailingPlacementCallIsReportedAndTheGraphIsNotRun) {
  Create();
  Renderer()->SetAnswer("put_WindowStyleEx", E_FAIL);
  ReportedErrors errors;
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "EDirectShowException: Unspecified error. ($80004005).");
  EXPECT_EQ(WindowCalls(), Placement(3));
  EXPECT_EQ(JournalCalls("Run()"), "");
  EXPECT_EQ(ReceiveGraph()->State(), State_Stopped);
  // The render happened before the run was refused: the chain stays connected.
  EXPECT_TRUE(Renderer()->AnyPinConnected());
}

struct MissingCase {
  const char* name;
  const char* slot;  // the slot left empty, or null for the renderer
  const char* calls;
};

class ReceiveMissingTest : public ReceiveTest, public testing::WithParamInterface<MissingCase> {};

TEST_P(ReceiveMissingTest, FailsAtThatRequestWithNothingConnectedOrRun) {
  if (GetParam().slot) {
    Create(WithSelection(FakeFilterLayout(), GetParam().slot, SoftwareFilterRecord(CLSID_NotRegistered)));
  } else {
    UnregisterClass(CLSID_VideoRenderer);
    Create();
  }
  ReportedErrors errors;
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
  EXPECT_EQ(JournalText(), GetParam().calls);
  EXPECT_EQ(ReceiveGraph()->State(), State_Stopped);
  for (TFilter* slot : {form_->ReceiveFilter, form_->DivxDecoderFilter}) {
    if (FakeFilter* filter = FilterOf(slot)) {
      EXPECT_FALSE(filter->AnyPinConnected()) << slot->Name();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Members, ReceiveMissingTest,
    testing::Values(
        MissingCase{"Renderer", nullptr, "Builder#1.QueryInterface(ICaptureGraphBuilder2)"},
        MissingCase{"Decoder", "DivxDecoderFilter",
                    "Builder#1.QueryInterface(ICaptureGraphBuilder2) "
                    "VideoWindow1.QueryInterface(IBaseFilter)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceiveTest, DecoderRefusingTheReceiversOutputLeavesTheRendererUnplacedAndRunsAnyway) {
  FakeGraphSettings().insert_converter = false;
  // The receiver's output pin finds no type that the decoder's input takes.
  FakeClassConfig(CLSID_FakeReceiver).answers["Connect"] = VFW_E_NO_ACCEPTABLE_TYPES;
  Create();
  ReportedErrors errors;
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(JournalCalls("RenderStream"),
            "Builder#1.RenderStream(ReceiveFilter, DivxDecoderFilter, VideoWindow1)");
  EXPECT_FALSE(Renderer()->AnyPinConnected());
  EXPECT_FALSE(FilterOf(form_->DivxDecoderFilter)->AnyPinConnected());
  EXPECT_EQ(WindowCalls(), "");
  EXPECT_NE(JournalCalls("Run()").find("Graph#1.Run()"), std::string::npos);
  EXPECT_EQ(ReceiveGraph()->State(), State_Running);
}

TEST_F(ReceiveTest, SecondPressRendersPlacesAndRunsAgain) {
  Create();
  form_->Button4->Click();
  ReportedErrors errors;
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "");
  // The render finds the receiver's output taken (its status is ignored); the
  // renderer is still connected, so its window is placed again before the run.
  EXPECT_EQ(HandlerCalls(),
            "Builder#1.QueryInterface(ICaptureGraphBuilder2) "
            "VideoWindow1.QueryInterface(IBaseFilter) "
            "DivxDecoderFilter.QueryInterface(IBaseFilter) "
            "ReceiveFilter.QueryInterface(IBaseFilter) "
            "Builder#1.RenderStream(ReceiveFilter, DivxDecoderFilter, VideoWindow1) "
            "Builder#1.QueryInterface(IMediaControl) Graph#1.QueryInterface(IMediaControl) " +
                Placement() + " Graph#1.Run()");
  EXPECT_EQ(ReceiveGraph()->State(), State_Running);
}

TEST_F(ReceiveTest, DestroyingTheWindowTakesTheRunningChainDownMemberByMemberWithoutStoppingTheGraph) {
  Create();
  form_->Button4->Click();
  bool can_close = true;
  form_->FormCloseQuery(form_.get(), can_close);
  ASSERT_EQ(ReceiveGraph()->State(), State_Running);  // the close query left it running
  ReportedErrors errors;
  ClearJournal();
  form_.reset();
  std::string receive;
  for (const std::string& entry : JournalEntries()) {
    const bool member = entry.starts_with("VideoWindow1.") || entry.starts_with("ReceiveFilter.") ||
                        entry.starts_with("DivxDecoderFilter.");
    if ((member && !entry.ends_with("Disconnect()")) || entry.starts_with("Graph#1.")) {
      receive += (receive.empty() ? "" : " ") + entry;
    }
  }
  EXPECT_EQ(receive,
            "VideoWindow1.Stop() Graph#1.RemoveFilter(VideoWindow1) VideoWindow1.JoinFilterGraph(null) "
            "DivxDecoderFilter.GetState(0) DivxDecoderFilter.Stop() Graph#1.RemoveFilter(DivxDecoderFilter) "
            "DivxDecoderFilter.JoinFilterGraph(null) "
            "ReceiveFilter.GetState(0) ReceiveFilter.Stop() Graph#1.RemoveFilter(ReceiveFilter) "
            "ReceiveFilter.JoinFilterGraph(null) Graph#1.SetNotifyFlags(1) Graph#1.Destroyed()");
  EXPECT_EQ(errors.Text(), "");
}

}  // namespace
