#include "Unit1.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/filter_config_dialog.h"
#include "platform/com/storage.h"
#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

class Form1Test : public testing::Test {
 protected:
  void SetUp() override { InstallFakeWorld(); }
  void TearDown() override { form_.reset(); }

  void Create(const std::string& layout = FakeFilterLayout()) {
    form_ = TForm1::Create(layout);
    ASSERT_NE(form_, nullptr);
  }
  FakeFilterGraph* SendGraph() { return FakeFilterGraph::From(form_->FilterGraph->GraphManager().Get()); }
  FakeFilterGraph* ReceiveGraph() { return FakeFilterGraph::From(form_->FilterGraph1->GraphManager().Get()); }
  FakeFilter* FilterOf(TFilter* slot) { return FakeFilter::From(slot->Instance().Get()); }

  std::unique_ptr<TForm1> form_;
};

TEST_F(Form1Test, StartUpFillsTheReceiveGraphFirstThenTheSendGraph) {
  Create();
  EXPECT_EQ(JournalCalls("AddFilter"),
            "Graph#1.AddFilter(VideoWindow1) Graph#1.AddFilter(ReceiveFilter) "
            "Graph#1.AddFilter(DivxDecoderFilter) Graph#2.AddFilter(DivXEncoder) "
            "Graph#2.AddFilter(SenderFilter) Graph#2.AddFilter(SourceFilter)");
  EXPECT_EQ(ReceiveGraph()->FilterNames(),
            (std::vector<std::string>{"VideoWindow1", "ReceiveFilter", "DivxDecoderFilter"}));
  EXPECT_EQ(SendGraph()->FilterNames(),
            (std::vector<std::string>{"DivXEncoder", "SenderFilter", "SourceFilter"}));
  EXPECT_EQ(JournalCalls("SetFiltergraph"),
            "Builder#1.SetFiltergraph(Graph#1) Builder#2.SetFiltergraph(Graph#2)");
  // Only the send graph is registered for graph editors.
  EXPECT_NE(form_->FilterGraph->RegistrationKey(), 0u);
  EXPECT_EQ(form_->FilterGraph1->RegistrationKey(), 0u);
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeRenderer), 0);  // RederFilter belongs to no graph
  EXPECT_EQ(form_->Memo1->Lines().ToVector(), std::vector<std::string>{"Memo1"});
  for (FakeFilterGraph* graph : {SendGraph(), ReceiveGraph()}) EXPECT_EQ(graph->State(), State_Stopped);
}

TEST_F(Form1Test, StoredLayoutHoldsTheSixSelectionRecordsByteForByte) {
  struct Slot {
    const char* name;
    std::u16string display_name;
    std::size_t size;
  };
  const Slot slots[] = {
      {"SourceFilter",
       u"@device:pnp:\\\\?\\usb#vid_046d&pid_0870#5&35bc3a4b&0&1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
       222},
      {"DivXEncoder", u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid", 134},
      {"SenderFilter", SoftwareFilterDisplayName(MakeGuid("{CE3B76CB-9540-48FA-9974-69A625D478E3}")), 202},
      {"ReceiveFilter", SoftwareFilterDisplayName(MakeGuid("{319F0815-ACEF-45FE-B497-A2E5D90A69D7}")), 202},
      {"DivxDecoderFilter", SoftwareFilterDisplayName(MakeGuid("{64697678-0000-0010-8000-00AA00389B71}")), 202},
      {"RederFilter", SoftwareFilterDisplayName(MakeGuid("{70E102B0-5556-11CE-97C0-00AA0055595A}")), 202},
  };
  for (const Slot& slot : slots) {
    const std::vector<std::uint8_t> stored = StoredSelection(kUnit1Layout, slot.name);
    EXPECT_EQ(stored.size(), slot.size) << slot.name;
    EXPECT_EQ(stored, MakeSelectionRecord(slot.display_name)) << slot.name;
    EXPECT_EQ(stored[stored.size() - 1], 0) << slot.name;
    EXPECT_EQ(stored[stored.size() - 2], 0) << slot.name;
  }
  const std::vector<std::uint8_t> prefix = {0x82, 0x00, 0x00, 0x00, 0x37, 0xD4, 0x15, 0x43, 0x8C, 0x5B,
                                            0xD0, 0x11, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86,
                                            0x6E, 0x00, 0x00, 0x00, 0x40, 0x00, 0x64, 0x00};
  const std::vector<std::uint8_t> encoder = StoredSelection(kUnit1Layout, "DivXEncoder");
  EXPECT_EQ(std::vector<std::uint8_t>(encoder.begin(), encoder.begin() + 28), prefix);
}

struct ControlCase {
  const char* name;
  int left, top, width, height;
  const char* caption;
  int tab_order;
};

class Form1LayoutTest : public Form1Test, public testing::WithParamInterface<ControlCase> {};

TEST_P(Form1LayoutTest, ControlStandsWhereStored) {
  Create();
  auto* control = dynamic_cast<TWinControl*>(form_->FindComponent(GetParam().name));
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->Parent(), form_.get());
  EXPECT_EQ(control->BoundsRect(),
            (TRect{GetParam().left, GetParam().top, GetParam().width, GetParam().height}));
  EXPECT_EQ(control->TabOrder(), GetParam().tab_order);
  if (auto* button = dynamic_cast<TButton*>(control)) {
    EXPECT_EQ(button->Caption(), GetParam().caption);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, Form1LayoutTest,
    testing::Values(ControlCase{"GO", 64, 8, 75, 25, "Send", 0},
                    ControlCase{"Memo1", 0, 323, 671, 89, "", 1},
                    ControlCase{"Button4", 456, 8, 75, 25, "Receive", 2},
                    ControlCase{"Button5", 416, 160, 150, 25, "Config ReceiveFilter", 3},
                    ControlCase{"Button6", 416, 184, 150, 25, "Config DivxDecoderFilter", 4},
                    ControlCase{"Button7", 416, 208, 150, 25, "Config RederFilter", 5},
                    ControlCase{"Button8", 16, 160, 150, 25, "Config SourceFilter", 6},
                    ControlCase{"Button9", 16, 184, 150, 25, "Config DivXEncoder", 7},
                    ControlCase{"Button10", 16, 208, 150, 25, "Config SenderFilter", 8},
                    ControlCase{"VideoWindow1", 208, 128, 160, 120, "", 9},
                    ControlCase{"Button1", 16, 232, 150, 25, "Button1", 10},
                    ControlCase{"Button2", 416, 232, 150, 25, "Button2", 11}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, WindowHasItsStoredCaptionSizeAndComponentsInCreationOrder) {
  Create();
  EXPECT_EQ(form_->Caption(), "Form1");
  EXPECT_EQ(form_->ClientWidth(), 671);
  EXPECT_EQ(form_->ClientHeight(), 412);
  EXPECT_EQ(form_->Memo1->Align(), TAlign::alBottom);
  std::vector<std::string> names;
  for (TComponent* component : form_->Components()) names.push_back(component->Name());
  EXPECT_EQ(names, (std::vector<std::string>{
                       "GO", "Memo1", "Button4", "Button5", "Button6", "Button7", "Button8", "Button9",
                       "Button10", "VideoWindow1", "Button1", "Button2", "FilterGraph", "DivXEncoder",
                       "SenderFilter", "SourceFilter", "FilterGraph1", "ReceiveFilter",
                       "DivxDecoderFilter", "RederFilter"}));
  EXPECT_EQ(form_->VideoWindow1->FilterGraph(), form_->FilterGraph1);
  EXPECT_EQ(form_->RederFilter->FilterGraph(), nullptr);
  EXPECT_EQ(form_->VideoWindow1->VMROptions().Mode, vmrWindowed);
  EXPECT_EQ(form_->VideoWindow1->Mode(), vmNormal);
}

TEST_F(Form1Test, SendAfterStartUpConnectsAndRunsWithoutCreatingAgain) {
  Create();
  const DWORD key = form_->FilterGraph->RegistrationKey();
  ClearJournal();
  form_->GO->Click();
  EXPECT_EQ(JournalCalls("Created"), "");
  EXPECT_EQ(JournalCalls("AddFilter"), "Graph#2.AddFilter(Converter)");  // the builder's own
  EXPECT_EQ(JournalCalls("RenderStream"),
            "Builder#2.RenderStream(SourceFilter, DivXEncoder, SenderFilter)");
  EXPECT_EQ(JournalCalls("Run()"),
            "Graph#2.Run() DivXEncoder.Run() SenderFilter.Run() SourceFilter.Run() Converter.Run()");
  EXPECT_EQ(form_->FilterGraph->RegistrationKey(), key);
  EXPECT_EQ(SendGraph()->State(), State_Running);
  EXPECT_EQ(ReceiveGraph()->State(), State_Stopped);
}

TEST_F(Form1Test, SendTwiceRendersAndRunsAgain) {
  Create();
  form_->GO->Click();
  ClearJournal();
  ReportedErrors errors;
  form_->GO->Click();
  EXPECT_EQ(JournalCalls("RenderStream"), "Builder#2.RenderStream(SourceFilter, DivXEncoder, SenderFilter)");
  EXPECT_NE(JournalCalls("Run()").find("Graph#2.Run()"), std::string::npos);
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(SendGraph()->State(), State_Running);
}

TEST_F(Form1Test, SendWithoutCameraFailsAtTheCameraRequest) {
  Create(WithSelection(FakeFilterLayout(), "SourceFilter", SoftwareFilterRecord(CLSID_NotRegistered)));
  EXPECT_EQ(SendGraph()->FilterNames(), (std::vector<std::string>{"DivXEncoder", "SenderFilter"}));
  ReportedErrors errors;
  ClearJournal();
  form_->GO->Click();
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
  EXPECT_EQ(JournalText(),
            "Builder#2.QueryInterface(ICaptureGraphBuilder2) SenderFilter.QueryInterface(IBaseFilter) "
            "DivXEncoder.QueryInterface(IBaseFilter)");
  EXPECT_EQ(SendGraph()->State(), State_Stopped);
  EXPECT_FALSE(FilterOf(form_->DivXEncoder)->AnyPinConnected());
  EXPECT_FALSE(FilterOf(form_->SenderFilter)->AnyPinConnected());
}

TEST_F(Form1Test, ReceivePlacesTheRendererWindowBeforeTheRun) {
  Create();
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(JournalCalls("RenderStream"),
            "Builder#1.RenderStream(ReceiveFilter, DivxDecoderFilter, VideoWindow1)");
  std::string placed;
  for (const std::string& entry : JournalEntries()) {
    if (entry.starts_with("VideoWindow1.put_") || entry.starts_with("VideoWindow1.Set") ||
        entry == "Graph#1.Run()") {
      placed += (placed.empty() ? "" : " ") + entry.substr(0, entry.find('('));
    }
  }
  EXPECT_EQ(placed,
            "VideoWindow1.put_Owner VideoWindow1.put_WindowStyle VideoWindow1.put_WindowStyleEx "
            "VideoWindow1.SetWindowPosition VideoWindow1.put_Caption VideoWindow1.put_MessageDrain "
            "Graph#1.Run");
  EXPECT_EQ(ReceiveGraph()->State(), State_Running);
  EXPECT_EQ(SendGraph()->State(), State_Stopped);
}

TEST_F(Form1Test, ReceiveWithoutReceiverFailsAfterRendererAndDecoderRequests) {
  Create(WithSelection(FakeFilterLayout(), "ReceiveFilter", SoftwareFilterRecord(CLSID_NotRegistered)));
  ReportedErrors errors;
  ClearJournal();
  form_->Button4->Click();
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
  EXPECT_EQ(JournalText(),
            "Builder#1.QueryInterface(ICaptureGraphBuilder2) VideoWindow1.QueryInterface(IBaseFilter) "
            "DivxDecoderFilter.QueryInterface(IBaseFilter)");
  EXPECT_EQ(ReceiveGraph()->State(), State_Stopped);
}

struct EndpointCase {
  const char* button;
  const char* slot;
};

class EndpointTest : public Form1Test, public testing::WithParamInterface<EndpointCase> {};

TEST_P(EndpointTest, HandsGroupAndPortInNetworkOrderThenTheParameter) {
  Create();
  auto* button = dynamic_cast<TButton*>(form_->FindComponent(GetParam().button));
  auto* slot = dynamic_cast<TFilter*>(form_->FindComponent(GetParam().slot));
  FakeFilter* filter = FilterOf(slot);
  filter->ClearCalls();
  button->Click();
  button->Click();  // a second press repeats both calls
  const std::string once = "SetEndpoint(EB 01 02 03, 23 28 00 00) SetParameter(00 00 00 00)";
  EXPECT_EQ(filter->Calls(), once + " " + once);
  std::uint32_t address = 0, port = 0;
  ComPtr<INetEndpointConfig> config;
  ASSERT_EQ(filter->QueryInterface(INetEndpointConfig::iid, config.ReleaseAndGetVoidAddress()), S_OK);
  config->GetEndpoint(&address, &port);
  EXPECT_EQ(MemoryBytes(address), "EB 01 02 03");
  EXPECT_EQ(MemoryBytes(port), "23 28 00 00");
}

INSTANTIATE_TEST_SUITE_P(Buttons, EndpointTest,
                         testing::Values(EndpointCase{"Button1", "SenderFilter"},
                                         EndpointCase{"Button2", "ReceiveFilter"}),
                         [](const auto& info) { return std::string(info.param.button); });

TEST_F(Form1Test, EndpointButtonLeavesTheRunningGraphRunning) {
  Create();
  form_->GO->Click();
  form_->Button1->Click();
  EXPECT_EQ(SendGraph()->State(), State_Running);
  EXPECT_EQ(FilterOf(form_->SenderFilter)->State(), State_Running);
}

TEST_F(Form1Test, EndpointToAFilterWithoutTheInterfaceEndsQuietly) {
  FakeClassConfig(CLSID_FakeSender).offers_endpoint = false;
  Create();
  ReportedErrors errors;
  FilterOf(form_->SenderFilter)->ClearCalls();
  form_->Button1->Click();
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(FilterOf(form_->SenderFilter)->Calls(), "");
}

TEST_F(Form1Test, EndpointToAnEmptySlotFailsWithoutCalls) {
  Create(WithSelection(FakeFilterLayout(), "SenderFilter", EmptyRecord()));
  ReportedErrors errors;
  ClearJournal();
  form_->Button1->Click();
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
  EXPECT_EQ(JournalText(), "");
}

struct ConfigCase {
  const char* button;
  const char* slot;
  const char* calls;
  bool frame;
};

class ConfigButtonTest : public Form1Test, public testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigButtonTest, OpensItsFiltersDialogOwnedByTheWindow) {
  Create();
  std::u16string caption;
  OAHWND owner = 0;
  int frames = 0;
  SetPropertyFrameForTesting([&](OAHWND frame_owner, std::uint32_t, std::uint32_t, LPCWSTR frame_caption,
                                 ULONG, IUnknown**, ULONG, const CLSID*, std::uint32_t, DWORD, void*) {
    ++frames;
    owner = frame_owner;
    caption = frame_caption;
    return S_OK;
  });
  auto* slot = dynamic_cast<TFilter*>(form_->FindComponent(GetParam().slot));
  FakeFilter* filter = FilterOf(slot);
  filter->ClearCalls();
  ReportedErrors errors;
  dynamic_cast<TButton*>(form_->FindComponent(GetParam().button))->Click();
  SetPropertyFrameForTesting(nullptr);
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(filter->Calls(), GetParam().calls);
  EXPECT_EQ(frames, GetParam().frame ? 1 : 0);
  if (GetParam().frame) {
    EXPECT_EQ(caption, Utf8ToUtf16(GetParam().slot));
    EXPECT_EQ(owner, form_->Handle());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, ConfigButtonTest,
    testing::Values(ConfigCase{"Button8", "SourceFilter", "GetPages() QueryFilterInfo()", true},
                    ConfigCase{"Button9", "DivXEncoder", "ShowDialog(4, 0) ShowDialog(1, owner)", false},
                    ConfigCase{"Button10", "SenderFilter", "GetPages() QueryFilterInfo()", true},
                    ConfigCase{"Button5", "ReceiveFilter", "GetPages() QueryFilterInfo()", true},
                    ConfigCase{"Button6", "DivxDecoderFilter", "ShowDialog(4, 0) ShowDialog(1, owner)", false}),
    [](const auto& info) { return std::string(info.param.button); });

TEST_F(Form1Test, ConfigRederFilterAlwaysFails) {
  Create();
  ReportedErrors errors;
  ClearJournal();
  form_->Button7->Click();
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeRenderer), 0);
}

TEST_F(Form1Test, SendGraphEventsAreLoggedBelowTheFirstLine) {
  Create();
  SendGraph()->QueueEvent(EC_COMPLETE, 11, 22);
  SendGraph()->QueueEvent(48, 0, 0);
  SendGraph()->QueueEvent(-1, 0, 0);
  SendGraph()->QueueEvent(EC_COMPLETE, 0, 0);
  ReceiveGraph()->QueueEvent(EC_DEVICE_LOST, 0, 0);  // never logged
  ProcessMessages();
  EXPECT_EQ(form_->Memo1->Lines().ToVector(),
            (std::vector<std::string>{"Memo1",
                                      "EC_COMPLETE - All data from a particular stream has been rendered.",
                                      "EC_TIMECODE_AVAILABLE- Sent by filter supporting timecode.",
                                      "Unknow Graph Event ($FFFFFFFF)",
                                      "EC_COMPLETE - All data from a particular stream has been rendered."}));
  form_->FilterGraph->HandleGraphNotify();
  ProcessMessages();
  EXPECT_EQ(form_->Memo1->Lines().Count(), 5);
}

TEST_F(Form1Test, CloseStripsAndDeactivatesTheSendGraphOnly) {
  Create();
  form_->GO->Click();
  form_->Button4->Click();
  form_->Show();
  const std::string name = form_->FilterGraph->RegistrationName();
  ClearJournal();
  EXPECT_TRUE(form_->Close());
  EXPECT_EQ(JournalCalls("RemoveFilter"),
            "Graph#2.RemoveFilter(Converter) Graph#2.RemoveFilter(DivXEncoder) "
            "Graph#2.RemoveFilter(SenderFilter) Graph#2.RemoveFilter(SourceFilter)");
  EXPECT_FALSE(form_->FilterGraph->Active());
  EXPECT_EQ(form_->FilterGraph->RegistrationKey(), 0u);
  EXPECT_TRUE(form_->FilterGraph1->Active());
  EXPECT_EQ(ReceiveGraph()->State(), State_Running);
  EXPECT_EQ(FakeInstances(CLSID_FakeCamera).size(), 0u);
  EXPECT_NE(JournalText().find("Graph#2.Destroyed()"), std::string::npos);
}

TEST_F(Form1Test, CloseRightAfterStartUpTakesDownTheIdleSendGraph) {
  Create();
  form_->Show();
  ReportedErrors errors;
  ClearJournal();
  EXPECT_TRUE(form_->Close());
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(JournalCalls("Disconnect"), "");
  EXPECT_EQ(JournalCalls("RemoveFilter"),
            "Graph#2.RemoveFilter(DivXEncoder) Graph#2.RemoveFilter(SenderFilter) "
            "Graph#2.RemoveFilter(SourceFilter)");
  EXPECT_FALSE(form_->FilterGraph->Active());
  EXPECT_FALSE(form_->IsShown());
}

TEST_F(Form1Test, ResizingMovesOnlyTheLogBox) {
  Create();
  form_->Show();
  const TRect send = form_->GO->BoundsRect();
  const TRect video = form_->VideoWindow1->BoundsRect();
  form_->SetBounds(form_->Left(), form_->Top(), form_->Width() + 200, form_->Height() + 100);
  ProcessMessages();
  ASSERT_GT(form_->ClientWidth(), 671);
  EXPECT_EQ(form_->Memo1->BoundsRect(),
            (TRect{0, form_->ClientHeight() - 89, form_->ClientWidth(), 89}));
  EXPECT_EQ(form_->GO->BoundsRect(), send);
  EXPECT_EQ(form_->VideoWindow1->BoundsRect(), video);
}

TEST_F(Form1Test, FailingStopKeepsTheWindowOpenWithTheSendGraphActive) {
  Create();
  form_->Show();
  FakeGraphSettings().answers["Stop"] = E_FAIL;
  ReportedErrors errors;
  EXPECT_FALSE(form_->Close());
  ASSERT_EQ(errors.Lines().size(), 1u);
  EXPECT_TRUE(errors.Text().starts_with("EDirectShowException: ")) << errors.Text();
  EXPECT_TRUE(errors.Text().ends_with(" ($80004005).")) << errors.Text();
  EXPECT_TRUE(form_->IsShown());
  EXPECT_TRUE(form_->FilterGraph->Active());
  EXPECT_EQ(SendGraph()->FilterNames().size(), 3u);
  FakeGraphSettings().answers.erase("Stop");
  EXPECT_TRUE(form_->Close());  // the next close runs the whole query again
}

TEST_F(Form1Test, SessionEndQuestionRunsTheCloseQueryAndSendActivatesAnew) {
  Create();
  form_->Show();
  EXPECT_TRUE(form_->QueryEndSession());
  EXPECT_TRUE(form_->IsShown());
  EXPECT_FALSE(form_->FilterGraph->Active());
  ClearJournal();
  form_->GO->Click();
  EXPECT_EQ(JournalCalls("Created"), "Builder#3.Created() Graph#3.Created()");
  EXPECT_EQ(JournalCalls("AddFilter"),
            "Graph#3.AddFilter(DivXEncoder) Graph#3.AddFilter(SenderFilter) "
            "Graph#3.AddFilter(SourceFilter) Graph#3.AddFilter(Converter)");
  EXPECT_NE(form_->FilterGraph->RegistrationKey(), 0u);
  EXPECT_EQ(SendGraph()->State(), State_Running);
}

TEST_F(Form1Test, DestructionTakesTheVideoWindowOutFirstThenTheSlotsThenTheGraph) {
  Create();
  form_->Button4->Click();
  ClearJournal();
  form_.reset();
  std::string receive;
  for (const std::string& entry : JournalEntries()) {
    if (entry.starts_with("Graph#1.RemoveFilter") || entry == "Graph#1.Destroyed()" ||
        entry == "VideoWindow1.Stop()") {
      receive += (receive.empty() ? "" : " ") + entry;
    }
  }
  EXPECT_EQ(receive,
            "VideoWindow1.Stop() Graph#1.RemoveFilter(VideoWindow1) Graph#1.RemoveFilter(DivxDecoderFilter) "
            "Graph#1.RemoveFilter(ReceiveFilter) Graph#1.Destroyed()");
  EXPECT_EQ(FakeInstances(CLSID_FakeReceiver).size(), 0u);
  EXPECT_EQ(FakeInstances(CLSID_VideoRenderer).size(), 0u);
}

TEST_F(Form1Test, BrokenLayoutIsRefusedAndLeavesNothingBehind) {
  const long live_before = ComLiveObjectCount();
  std::string broken = FakeFilterLayout();
  broken.replace(broken.find("Mode = gmCapture"), 16, "Mode = gmNothing");
  EXPECT_THROW(TForm1::Create(broken), ELayoutError);
  EXPECT_EQ(ComLiveObjectCount(), live_before);
}

}  // namespace
