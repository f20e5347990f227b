#include "media/filter_slot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/filter_graph.h"
#include "platform/com/storage.h"
#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

class FilterSlotTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallFakeWorld();
    graph_.SetMode(gmCapture);
    graph_.SetActive(true);
    slot_.SetName("SourceFilter");
  }
  void TearDown() override { slot_.SetFilterGraph(nullptr); }

  FakeFilterGraph* Manager() { return FakeFilterGraph::From(graph_.GraphManager().Get()); }

  TFilterGraph graph_{nullptr};
  TFilter slot_{nullptr};
};

TEST_F(FilterSlotTest, RecordOfLengthZeroYieldsAnEmptySlotWithoutComCalls) {
  // A length of 0 with a whole selection behind it: nothing of it may be read.
  std::vector<std::uint8_t> value = SoftwareFilterRecord(CLSID_FakeCamera);
  value[0] = value[1] = value[2] = value[3] = 0;
  slot_.BaseFilter().ReadData(value);
  EXPECT_TRUE(slot_.BaseFilter().Empty());
  EXPECT_EQ(slot_.BaseFilter().WriteData(), EmptyRecord());

  slot_.SetFilterGraph(&graph_);
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeCamera), 0);
  EXPECT_EQ(slot_.Instance().Get(), nullptr);
  EXPECT_EQ(JournalCalls("AddFilter"), "Graph#1.AddFilter(empty SourceFilter)");
  EXPECT_THROW(IntfCast<IBaseFilter>(slot_), EIntfCastError);
}

TEST_F(FilterSlotTest, ResolvedSelectionEntersUnderTheSlotName) {
  slot_.BaseFilter().ReadData(SoftwareFilterRecord(CLSID_FakeCamera));
  slot_.SetFilterGraph(&graph_);
  FakeFilter* camera = LastFakeInstance(CLSID_FakeCamera);
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(camera->Calls(), "JoinFilterGraph(SourceFilter)");
  EXPECT_EQ(Manager()->FilterNames(), std::vector<std::string>{"SourceFilter"});
  EXPECT_EQ(IntfCast<IBaseFilter>(slot_).Get(), static_cast<IBaseFilter*>(camera));
  slot_.SetFilterGraph(&graph_);  // the same graph again changes nothing
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeCamera), 1);
}

TEST_F(FilterSlotTest, UnresolvedSelectionLeavesTheSlotEmptyAndSilent) {
  slot_.BaseFilter().ReadData(SoftwareFilterRecord(CLSID_NotRegistered));
  EXPECT_NO_THROW(slot_.SetFilterGraph(&graph_));
  EXPECT_EQ(slot_.Instance().Get(), nullptr);
  EXPECT_TRUE(Manager()->FilterNames().empty());
  try {
    IntfCast<IBaseFilter>(slot_);
    FAIL() << "cast succeeded";
  } catch (const EIntfCastError& error) {
    EXPECT_STREQ(error.what(), "Interface not supported");
  }
}

TEST_F(FilterSlotTest, SlotInNoGraphNeverHoldsAFilter) {
  slot_.BaseFilter().ReadData(SoftwareFilterRecord(CLSID_FakeRenderer));
  EXPECT_THROW(IntfCast<IBaseFilter>(slot_), EIntfCastError);
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeRenderer), 0);
}

struct LeavingCase {
  const char* name;
  FILTER_STATE state;
  HRESULT get_state_answer;
  const char* calls;
};

class FilterSlotLeavingTest : public FilterSlotTest, public testing::WithParamInterface<LeavingCase> {};

TEST_P(FilterSlotLeavingTest, StopsOnlyAPausedOrRunningFilter) {
  slot_.BaseFilter().ReadData(SoftwareFilterRecord(CLSID_FakeCamera));
  slot_.SetFilterGraph(&graph_);
  FakeFilter* camera = LastFakeInstance(CLSID_FakeCamera);
  if (GetParam().state == State_Running) camera->Run(0);
  if (GetParam().state == State_Paused) camera->Pause();
  camera->SetAnswer("GetState", GetParam().get_state_answer);
  camera->SetAnswer("Stop", E_FAIL);  // not examined
  camera->ClearCalls();
  ComPtr<IBaseFilter> kept(camera);  // to read its calls after the slot let go
  EXPECT_NO_THROW(slot_.SetFilterGraph(nullptr));
  EXPECT_EQ(camera->Calls(), GetParam().calls);
  EXPECT_EQ(slot_.Instance().Get(), nullptr);
  EXPECT_TRUE(Manager()->FilterNames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    States, FilterSlotLeavingTest,
    testing::Values(LeavingCase{"Stopped", State_Stopped, S_OK, "GetState(0) JoinFilterGraph(null)"},
                    LeavingCase{"Paused", State_Paused, S_OK, "GetState(0) Stop() JoinFilterGraph(null)"},
                    LeavingCase{"Running", State_Running, S_OK, "GetState(0) Stop() JoinFilterGraph(null)"},
                    LeavingCase{"Changing", State_Running, VFW_S_STATE_INTERMEDIATE,
                                "GetState(0) JoinFilterGraph(null)"},
                    LeavingCase{"Failing", State_Running, E_FAIL, "GetState(0) JoinFilterGraph(null)"}),
    [](const auto& info) { return info.param.name; });

TEST_F(FilterSlotTest, DestroyedSlotLeavesItsGraph) {
  auto slot = std::make_unique<TFilter>(nullptr);
  slot->SetName("SenderFilter");
  slot->BaseFilter().ReadData(SoftwareFilterRecord(CLSID_FakeSender));
  slot->SetFilterGraph(&graph_);
  ASSERT_EQ(graph_.Members().size(), 1u);
  slot.reset();
  EXPECT_TRUE(graph_.Members().empty());
  EXPECT_TRUE(Manager()->FilterNames().empty());
  EXPECT_EQ(FakeInstances(CLSID_FakeSender).size(), 0u);
}

TEST_F(FilterSlotTest, RebindingMovesTheFilterToTheNewGraph) {
  TFilterGraph other(nullptr);
  other.SetActive(true);
  slot_.BaseFilter().ReadData(SoftwareFilterRecord(CLSID_FakeCamera));
  slot_.SetFilterGraph(&graph_);
  slot_.SetFilterGraph(&other);
  EXPECT_TRUE(Manager()->FilterNames().empty());
  EXPECT_EQ(FakeFilterGraph::From(other.GraphManager().Get())->FilterNames(),
            std::vector<std::string>{"SourceFilter"});
  EXPECT_EQ(FakeCreatedCount(CLSID_FakeCamera), 2);
  slot_.SetFilterGraph(nullptr);
}

struct RecordCase {
  const char* name;
  std::vector<std::uint8_t> value;
  std::vector<std::uint8_t> moniker;
};

class SelectionRecordTest : public testing::TestWithParam<RecordCase> {};

TEST_P(SelectionRecordTest, ReadsLengthThenThatManyBytesZeroFilled) {
  TBaseFilter record;
  record.ReadData(GetParam().value);
  EXPECT_EQ(std::vector<std::uint8_t>(record.MonikerBytes().begin(), record.MonikerBytes().end()),
            GetParam().moniker);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SelectionRecordTest,
    testing::Values(RecordCase{"Empty", {0, 0, 0, 0}, {}},
                    RecordCase{"Exact", {3, 0, 0, 0, 7, 8, 9}, {7, 8, 9}},
                    RecordCase{"Short", {4, 0, 0, 0, 7}, {7, 0, 0, 0}},
                    RecordCase{"Longer", {2, 0, 0, 0, 7, 8, 9}, {7, 8}},
                    RecordCase{"NoLength", {}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(SelectionRecord, DamagedLengthIsRefused) {
  TBaseFilter record;
  EXPECT_THROW(record.ReadData(std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}), std::length_error);
}

}  // namespace
