#include "media/filter_graph.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/filter_slot.h"
#include "platform/com/storage.h"
#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

// Journals the notices and events it hears, as "Listener.Play" and so on.
class RecordingListener : public GraphListener {
 public:
  void ControlNotice(TControlNotice notice, int value) override {
    const char* names[] = {"Active", "Play", "Stop"};
    Journal(std::string("Listener.") + names[static_cast<int>(notice)] + "(" + std::to_string(value) + ")");
  }
  void GraphEvent(LONG code, LONG param1, LONG param2) override {
    Journal("Listener.Event(" + std::to_string(code) + ", " + std::to_string(param1) + ", " +
            std::to_string(param2) + ")");
  }
};

class FilterGraphTest : public testing::Test {
 protected:
  void SetUp() override { InstallFakeWorld(); }

  // A slot named `name` selecting the software filter `clsid`.
  std::unique_ptr<TFilter> MakeSlot(const char* name, const CLSID& clsid) {
    auto slot = std::make_unique<TFilter>(nullptr);
    slot->SetName(name);
    slot->BaseFilter().ReadData(SoftwareFilterRecord(clsid));
    return slot;
  }

  FakeFilterGraph* Manager() { return FakeFilterGraph::From(graph_.GraphManager().Get()); }

  TFilterGraph graph_{nullptr};
};

TEST_F(FilterGraphTest, ActivationCreatesBuilderThenManagerAndStartsDelivery) {
  graph_.SetMode(gmCapture);
  graph_.SetActive(true);
  EXPECT_EQ(JournalText(),
            "Builder#1.Created() Builder#1.QueryInterface(ICaptureGraphBuilder2) Graph#1.Created() "
            "Graph#1.QueryInterface(IFilterGraph2) Builder#1.SetFiltergraph(Graph#1) "
            "Builder#1.QueryInterface(IMediaEventEx) Graph#1.QueryInterface(IMediaEventEx) "
            "Graph#1.SetNotifyFlags(0) Graph#1.SetNotifyWindow()");
  FakeFilterGraph* manager = Manager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->NotifyWindow(), graph_.NotifyWindow());
  EXPECT_NE(manager->NotifyWindow(), 0);
  EXPECT_EQ(manager->NotifyMessage(), 0x8001);
  EXPECT_EQ(manager->NotifyInstance(),
            reinterpret_cast<LONG_PTR>(static_cast<IMediaEventEx*>(manager)));
  EXPECT_EQ(graph_.RegistrationKey(), 0u);  // GraphEdit is off
}

TEST_F(FilterGraphTest, NormalModeMakesNoBuilder) {
  graph_.SetActive(true);
  EXPECT_EQ(FakeBuildersCreated(), 0);
  EXPECT_EQ(FakeGraphsCreated(), 1);
  ComPtr<ICaptureGraphBuilder2> builder;
  EXPECT_EQ(graph_.QueryInterface(ICaptureGraphBuilder2::iid, builder.ReleaseAndGetVoidAddress()),
            E_NOINTERFACE);
}

TEST_F(FilterGraphTest, RequestsFailWhileInactiveAndGoToBuilderThenManagerWhileActive) {
  graph_.SetMode(gmCapture);
  ComPtr<ICaptureGraphBuilder2> builder;
  EXPECT_EQ(graph_.QueryInterface(ICaptureGraphBuilder2::iid, builder.ReleaseAndGetVoidAddress()),
            E_NOINTERFACE);
  EXPECT_THROW(IntfCast<ICaptureGraphBuilder2>(graph_), EIntfCastError);

  graph_.SetActive(true);
  const ComPtr<ICaptureGraphBuilder2> first = IntfCast<ICaptureGraphBuilder2>(graph_);
  const ComPtr<ICaptureGraphBuilder2> second = IntfCast<ICaptureGraphBuilder2>(graph_);
  EXPECT_EQ(first.Get(), graph_.CaptureGraphBuilder().Get());
  EXPECT_EQ(first.Get(), second.Get());

  ClearJournal();
  const ComPtr<IMediaControl> control = IntfCast<IMediaControl>(graph_);
  EXPECT_EQ(JournalText(), "Builder#1.QueryInterface(IMediaControl) Graph#1.QueryInterface(IMediaControl)");
  EXPECT_EQ(static_cast<IMediaControl*>(Manager()), control.Get());
}

struct RegistrationCase {
  std::uintptr_t manager;
  std::uint32_t pid;
  const char* name;
};

class RegistrationNameTest : public testing::TestWithParam<RegistrationCase> {};

TEST_P(RegistrationNameTest, WritesPointerPaddedAndPidBare) {
  EXPECT_EQ(GraphRegistrationName(GetParam().manager, GetParam().pid), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RegistrationNameTest,
    testing::Values(RegistrationCase{0x0012AB30, 2024, "FilterGraph 000000000012AB30 pid 7E8"},
                    RegistrationCase{0x00000001, 16, "FilterGraph 0000000000000001 pid 10"},
                    RegistrationCase{0x7FFDEADBEEF0, 1, "FilterGraph 00007FFDEADBEEF0 pid 1"},
                    RegistrationCase{0xFFFF8000ABCDEF12ull, 0x3FFFFF,
                                     "FilterGraph FFFF8000ABCDEF12 pid 3FFFFF"}));

bool IsRegistered(const std::string& name) {
  ComPtr<IRunningObjectTable> table;
  EXPECT_EQ(GetRunningObjectTable(0, table.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IMoniker> moniker;
  const std::u16string item = Utf8ToUtf16(name);
  EXPECT_EQ(CreateItemMoniker(u"!", item.c_str(), moniker.ReleaseAndGetAddressOf()), S_OK);
  return table->IsRunning(moniker.Get()) == S_OK;
}

TEST_F(FilterGraphTest, GraphEditRegistersTheManagerUnderItsNameUntilDeactivation) {
  graph_.SetMode(gmCapture);
  graph_.SetGraphEdit(true);
  graph_.SetActive(true);
  const std::string name = GraphRegistrationName(
      reinterpret_cast<std::uintptr_t>(graph_.GraphManager().Get()), static_cast<std::uint32_t>(getpid()));
  EXPECT_EQ(graph_.RegistrationName(), name);
  EXPECT_NE(graph_.RegistrationKey(), 0u);
  EXPECT_TRUE(IsRegistered(name));

  graph_.SetActive(false);
  EXPECT_EQ(graph_.RegistrationKey(), 0u);
  EXPECT_FALSE(IsRegistered(name));
}

TEST_F(FilterGraphTest, MembersEnterInListOrderThenListenersHearActive) {
  RecordingListener listener;
  auto encoder = MakeSlot("DivXEncoder", CLSID_FakeEncoder);
  auto sender = MakeSlot("SenderFilter", CLSID_FakeSender);
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  graph_.SetMode(gmCapture);
  encoder->SetFilterGraph(&graph_);
  sender->SetFilterGraph(&graph_);
  camera->SetFilterGraph(&graph_);
  graph_.AddListener(&listener);
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeCamera), 0);  // an inactive graph only records members

  ClearJournal();
  graph_.SetActive(true);
  EXPECT_EQ(JournalCalls("AddFilter") + " " + JournalCalls("Active"),
            "Graph#1.AddFilter(DivXEncoder) Graph#1.AddFilter(SenderFilter) "
            "Graph#1.AddFilter(SourceFilter) Listener.Active(1)");
  EXPECT_EQ(Manager()->FilterNames(),
            (std::vector<std::string>{"DivXEncoder", "SenderFilter", "SourceFilter"}));
  const std::vector<std::string> entries = JournalEntries();
  EXPECT_EQ(entries.back(), "Listener.Active(1)");
  graph_.RemoveListener(&listener);
  camera->SetFilterGraph(nullptr);
  sender->SetFilterGraph(nullptr);
  encoder->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, DeactivationTellsListenersThenMembersLeaveThenReleases) {
  RecordingListener listener;
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  graph_.SetMode(gmCapture);
  graph_.SetGraphEdit(true);
  camera->SetFilterGraph(&graph_);
  graph_.AddListener(&listener);
  graph_.SetActive(true);
  ClearJournal();

  graph_.SetActive(false);
  EXPECT_EQ(JournalText(),
            "Listener.Active(0) SourceFilter.GetState(0) Graph#1.RemoveFilter(SourceFilter) "
            "SourceFilter.JoinFilterGraph(null) Graph#1.SetNotifyFlags(1) Graph#1.Destroyed()");
  EXPECT_FALSE(graph_.Active());
  EXPECT_EQ(graph_.Members().size(), 1u);  // still a member, back at the next activation
  EXPECT_EQ(FakeInstances(CLSID_FakeCamera).size(), 0u);
  EXPECT_EQ(FakeCaptureGraphBuilder::Instances().size(), 0u);
  graph_.RemoveListener(&listener);
  camera->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, ReactivationKeepsMembersAndMakesNewInstances) {
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  camera->SetFilterGraph(&graph_);
  graph_.SetActive(true);
  graph_.SetActive(false);
  graph_.SetActive(true);
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeCamera), 2);
  EXPECT_EQ(FakeGraphsCreated(), 2);
  EXPECT_EQ(FakeInstances(CLSID_FakeCamera).size(), 1u);
  EXPECT_NE(camera->Instance().Get(), nullptr);
  EXPECT_EQ(Manager()->FilterNames(), std::vector<std::string>{"SourceFilter"});
  camera->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, ActiveStoredBeforeModeActivatesWithTheModesObjects) {
  graph_.BeginLoading();
  graph_.SetActive(true);
  EXPECT_TRUE(graph_.Active());
  EXPECT_EQ(FakeGraphsCreated(), 0);
  graph_.SetMode(gmCapture);
  graph_.SetGraphEdit(false);
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  camera->SetFilterGraph(&graph_);  // binding finds the graph active, with its builder
  EXPECT_EQ(FakeBuildersCreated(), 1);
  EXPECT_EQ(FakeGraphsCreated(), 1);
  EXPECT_EQ(Manager()->FilterNames(), std::vector<std::string>{"SourceFilter"});
  graph_.Loaded();
  EXPECT_EQ(FakeGraphsCreated(), 1);
  camera->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, AutoCreateActivatesWhenLoadingCompletes) {
  graph_.BeginLoading();
  graph_.SetAutoCreate(true);
  graph_.SetMode(gmCapture);
  EXPECT_FALSE(graph_.Active());
  graph_.Loaded();
  EXPECT_TRUE(graph_.Active());
  EXPECT_EQ(FakeBuildersCreated(), 1);
  graph_.Loaded();  // an active graph changes nothing
  EXPECT_EQ(FakeGraphsCreated(), 1);
}

TEST_F(FilterGraphTest, MissingManagerIsNeverUsed) {
  FakeGraphSettings().fail_graph_creation = true;
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  camera->SetFilterGraph(&graph_);
  graph_.SetMode(gmCapture);
  graph_.SetGraphEdit(true);
  graph_.SetActive(true);
  EXPECT_TRUE(graph_.Active());
  EXPECT_EQ(graph_.GraphManager().Get(), nullptr);
  EXPECT_EQ(graph_.RegistrationKey(), 0u);
  EXPECT_EQ(JournalCalls("SetFiltergraph"), "");
  EXPECT_FALSE(graph_.RunGraph());
  EXPECT_FALSE(graph_.StopGraph());
  EXPECT_NO_THROW(graph_.StripGraph());
  EXPECT_NO_THROW(graph_.SetActive(false));
  camera->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, MissingBuilderLeavesTheManagerAnswering) {
  FakeGraphSettings().fail_builder_creation = true;
  graph_.SetMode(gmCapture);
  graph_.SetActive(true);
  EXPECT_THROW(IntfCast<ICaptureGraphBuilder2>(graph_), EIntfCastError);
  EXPECT_NE(Manager(), nullptr);
  EXPECT_TRUE(graph_.RunGraph());
}

TEST_F(FilterGraphTest, RunGraphTellsListenersBeforeRunning) {
  RecordingListener listener;
  graph_.AddListener(&listener);
  EXPECT_FALSE(graph_.RunGraph());  // inactive: no media control
  graph_.SetActive(true);
  ClearJournal();
  EXPECT_TRUE(graph_.RunGraph());
  EXPECT_EQ(JournalText(), "Graph#1.QueryInterface(IMediaControl) Listener.Play(0) Graph#1.Run()");
  ClearJournal();
  EXPECT_TRUE(graph_.StopGraph());
  EXPECT_EQ(JournalText(), "Graph#1.QueryInterface(IMediaControl) Listener.Stop(0) Graph#1.Stop()");
  graph_.RemoveListener(&listener);
}

struct ControlCase {
  const char* call;
  HRESULT status;
  bool result;      // when no error is raised
  bool raises;
};

class ControlStatusTest : public FilterGraphTest, public testing::WithParamInterface<ControlCase> {};

TEST_P(ControlStatusTest, AppliesTheStatusCheck) {
  graph_.SetActive(true);
  FakeGraphSettings().answers[GetParam().call] = GetParam().status;
  const bool run = std::string(GetParam().call) == "Run";
  if (GetParam().raises) {
    try {
      run ? graph_.RunGraph() : graph_.StopGraph();
      FAIL() << "no error raised";
    } catch (const EDirectShowException& error) {
      EXPECT_EQ(error.ErrorCode(), GetParam().status);
    }
  } else {
    EXPECT_EQ(run ? graph_.RunGraph() : graph_.StopGraph(), GetParam().result);
  }
}

INSTANTIATE_TEST_SUITE_P(Statuses, ControlStatusTest,
                         testing::Values(ControlCase{"Run", S_OK, true, false},
                                         ControlCase{"Run", S_FALSE, true, false},
                                         ControlCase{"Run", E_FAIL, false, true},
                                         ControlCase{"Stop", S_OK, true, false},
                                         ControlCase{"Stop", S_FALSE, false, false},
                                         ControlCase{"Stop", E_FAIL, false, true}));

TEST_F(FilterGraphTest, StripGraphRemovesExactlyTheForeignFilters) {
  auto encoder = MakeSlot("DivXEncoder", CLSID_FakeEncoder);
  auto sender = MakeSlot("SenderFilter", CLSID_FakeSender);
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  graph_.SetMode(gmCapture);
  for (TFilter* slot : {encoder.get(), sender.get(), camera.get()}) slot->SetFilterGraph(&graph_);
  graph_.SetActive(true);
  const ComPtr<ICaptureGraphBuilder2> builder = IntfCast<ICaptureGraphBuilder2>(graph_);
  builder->RenderStream(nullptr, nullptr, camera->Instance().Get(), encoder->Instance().Get(),
                        sender->Instance().Get());
  graph_.RunGraph();
  ASSERT_EQ(Manager()->FilterNames(),
            (std::vector<std::string>{"DivXEncoder", "SenderFilter", "SourceFilter", "Converter"}));
  ASSERT_TRUE(FakeFilter::From(camera->Instance().Get())->AnyPinConnected());

  ClearJournal();
  graph_.StripGraph();
  EXPECT_EQ(JournalCalls("Stop()").substr(0, 14), "Graph#1.Stop()");
  EXPECT_EQ(JournalCalls("RemoveFilter"), "Graph#1.RemoveFilter(Converter)");
  EXPECT_EQ(Manager()->FilterNames(),
            (std::vector<std::string>{"DivXEncoder", "SenderFilter", "SourceFilter"}));
  for (TFilter* slot : {encoder.get(), sender.get(), camera.get()}) {
    FakeFilter* filter = FakeFilter::From(slot->Instance().Get());
    EXPECT_FALSE(filter->AnyPinConnected()) << slot->Name();
    EXPECT_EQ(filter->State(), State_Stopped) << slot->Name();
  }
  EXPECT_EQ(FakeInstances(CLSID_FakeConverter).size(), 0u);
  for (TFilter* slot : {camera.get(), sender.get(), encoder.get()}) slot->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, StripGraphEndsAtAFailingDisconnect) {
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  auto encoder = MakeSlot("DivXEncoder", CLSID_FakeEncoder);
  graph_.SetMode(gmCapture);
  camera->SetFilterGraph(&graph_);
  encoder->SetFilterGraph(&graph_);
  graph_.SetActive(true);
  IntfCast<ICaptureGraphBuilder2>(graph_)->RenderStream(nullptr, nullptr, camera->Instance().Get(),
                                                        encoder->Instance().Get(), nullptr);
  FakeFilter::From(camera->Instance().Get())->SetAnswer("Disconnect", E_FAIL);
  ClearJournal();
  EXPECT_THROW(graph_.StripGraph(), EDirectShowException);
  EXPECT_EQ(JournalCalls("RemoveFilter"), "");
  EXPECT_EQ(Manager()->FilterNames().size(), 3u);
  camera->SetFilterGraph(nullptr);
  encoder->SetFilterGraph(nullptr);
}

TEST_F(FilterGraphTest, OneNotificationDrainsEveryQueuedEventInOrder) {
  RecordingListener listener;
  std::vector<std::string> order;
  graph_.AddListener(&listener);
  graph_.OnDSEvent = [&](TObject* sender, LONG code, LONG param1, LONG param2) {
    EXPECT_EQ(sender, &graph_);
    Journal("OnDSEvent(" + std::to_string(code) + ", " + std::to_string(param1) + ", " +
            std::to_string(param2) + ")");
  };
  graph_.SetEventHandler(EC_COMPLETE, [&](TObject*, LONG, LONG) { Journal("OnComplete"); });
  graph_.SetActive(true);
  FakeFilterGraph* manager = Manager();
  ClearJournal();
  manager->QueueEvent(EC_COMPLETE, 5, 6);
  manager->QueueEvent(EC_DEVICE_LOST, 7, 8);
  manager->QueueEvent(EC_COMPLETE, 0, 0);
  ProcessMessages();
  EXPECT_EQ(JournalText(),
            "Listener.Event(1, 5, 6) OnDSEvent(1, 5, 6) OnComplete "
            "Listener.Event(31, 7, 8) OnDSEvent(31, 7, 8) "
            "Listener.Event(1, 0, 0) OnDSEvent(1, 0, 0) OnComplete");
  EXPECT_EQ(manager->FreedEvents(), 3);

  ClearJournal();
  graph_.HandleGraphNotify();  // a later notification finds the queue empty
  ProcessMessages();
  EXPECT_EQ(JournalText(), "");
  graph_.RemoveListener(&listener);
}

TEST_F(FilterGraphTest, NotificationAfterDeactivationAddsNothing) {
  int delivered = 0;
  graph_.OnDSEvent = [&](TObject*, LONG, LONG, LONG) { ++delivered; };
  graph_.SetActive(true);
  const ComPtr<IFilterGraph2> kept = graph_.GraphManager();
  FakeFilterGraph* manager = FakeFilterGraph::From(kept.Get());
  manager->QueueEvent(EC_COMPLETE, 0, 0);  // posted, not yet handled
  graph_.SetActive(false);
  EXPECT_EQ(manager->NotifyFlags(), 1);
  ProcessMessages();
  graph_.HandleGraphNotify();
  EXPECT_EQ(delivered, 0);
}

TEST_F(FilterGraphTest, ErrorInADrainEndsItAndIsReported) {
  ReportedErrors errors;
  std::vector<LONG> seen;
  graph_.OnDSEvent = [&](TObject*, LONG code, LONG, LONG) {
    seen.push_back(code);
    if (code == EC_ERRORABORT) throw EIntfCastError();
  };
  graph_.SetActive(true);
  FakeFilterGraph* manager = Manager();
  manager->QueueEvent(EC_ERRORABORT, 0, 0, false);
  manager->QueueEvent(EC_COMPLETE, 0, 0, true);
  ProcessMessages();
  EXPECT_EQ(seen, std::vector<LONG>{EC_ERRORABORT});
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
  graph_.HandleGraphNotify();  // the next notification takes what is left
  EXPECT_EQ(seen, (std::vector<LONG>{EC_ERRORABORT, EC_COMPLETE}));
}

TEST_F(FilterGraphTest, WithoutEventQueueTheGraphIsActiveAndSilent) {
  FakeGraphSettings().offer_events = false;
  graph_.SetActive(true);
  EXPECT_TRUE(graph_.Active());
  EXPECT_EQ(JournalCalls("SetNotify"), "");
}

TEST_F(FilterGraphTest, DestroyedGraphLeavesItsMembersWithoutGraph) {
  auto graph = std::make_unique<TFilterGraph>(nullptr);
  auto camera = MakeSlot("SourceFilter", CLSID_FakeCamera);
  camera->SetFilterGraph(graph.get());
  graph->SetActive(true);
  graph.reset();
  EXPECT_EQ(camera->FilterGraph(), nullptr);
  EXPECT_EQ(camera->Instance().Get(), nullptr);
  EXPECT_EQ(FakeInstances(CLSID_FakeCamera).size(), 0u);
}

}  // namespace
