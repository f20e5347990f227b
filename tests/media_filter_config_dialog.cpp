#include "media/filter_config_dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"
#include "support/test_world.h"

namespace {

constexpr OAHWND kOwner = 0x1234;

struct FrameCall {
  int calls = 0;
  OAHWND owner = 0;
  std::u16string caption;
  ULONG objects = 0;
  IUnknown* object = nullptr;
  ULONG pages = 0;
};

class ConfigDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallFakeWorld();
    SetPropertyFrameForTesting([this](OAHWND owner, std::uint32_t x, std::uint32_t y, LPCWSTR caption,
                                      ULONG object_count, IUnknown** objects, ULONG page_count,
                                      const CLSID*, std::uint32_t locale, DWORD reserved,
                                      void* reserved_ptr) {
      ++frame_.calls;
      EXPECT_EQ(x, 0u);
      EXPECT_EQ(y, 0u);
      EXPECT_EQ(locale, 0u);
      EXPECT_EQ(reserved, 0u);
      EXPECT_EQ(reserved_ptr, nullptr);
      frame_.owner = owner;
      frame_.caption = caption;
      frame_.objects = object_count;
      frame_.object = objects[0];
      frame_.pages = page_count;
      return frame_status_;
    });
    graph_ = MakeComObject<FakeFilterGraph>();
  }
  void TearDown() override { SetPropertyFrameForTesting(nullptr); }

  ComPtr<FakeFilter> MakeFilter(FakeFilterConfig config) {
    auto filter = MakeComObject<FakeFilter>(CLSID_FakeCamera, std::move(config));
    graph_->AddFilter(filter.Get(), u"SourceFilter");
    filter->ClearCalls();
    return filter;
  }

  FrameCall frame_;
  HRESULT frame_status_ = S_OK;
  ComPtr<FakeFilterGraph> graph_;
};

TEST_F(ConfigDialogTest, PagesOpenAFrameUnderTheFiltersGraphName) {
  auto filter = MakeFilter({.label = "Camera", .offers_pages = true});
  const long memory_before = CoTaskMemOutstanding();
  const ULONG references_before = (filter->AddRef(), filter->Release());
  EXPECT_EQ(ShowFilterConfigDialog(kOwner, filter.Get(), fdDefaultPages), S_OK);
  EXPECT_EQ(filter->Calls(), "GetPages() QueryFilterInfo()");
  EXPECT_EQ(frame_.calls, 1);
  EXPECT_EQ(frame_.owner, kOwner);
  EXPECT_EQ(frame_.caption, u"SourceFilter");
  EXPECT_EQ(frame_.objects, 1u);
  EXPECT_EQ(frame_.object, static_cast<IUnknown*>(static_cast<IBaseFilter*>(filter.Get())));
  EXPECT_EQ(frame_.pages, 1u);
  EXPECT_EQ(CoTaskMemOutstanding(), memory_before);  // the page list was freed
  EXPECT_EQ((filter->AddRef(), filter->Release()), references_before);
  EXPECT_EQ((graph_->AddRef(), graph_->Release()), 1u);  // the info's graph reference was released
}

struct PagesCase {
  const char* name;
  bool offers;
  const char* failing_call;
  HRESULT status;
  int frames;
  const char* calls;
};

class PagesFailureTest : public ConfigDialogTest, public testing::WithParamInterface<PagesCase> {};

TEST_P(PagesFailureTest, EndsQuietlyWithTheFailingStatus) {
  auto filter = MakeFilter({.label = "Camera", .offers_pages = GetParam().offers});
  if (*GetParam().failing_call) filter->SetAnswer(GetParam().failing_call, GetParam().status);
  const long memory_before = CoTaskMemOutstanding();
  EXPECT_EQ(ShowFilterConfigDialog(kOwner, filter.Get(), fdDefaultPages), GetParam().status);
  EXPECT_EQ(filter->Calls(), GetParam().calls);
  EXPECT_EQ(frame_.calls, GetParam().frames);
  // A failing GetPages hands no list to free; a failing QueryFilterInfo still frees it.
  const bool list_left = std::string(GetParam().failing_call) == "GetPages";
  EXPECT_EQ(CoTaskMemOutstanding(), memory_before + (list_left ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PagesFailureTest,
    testing::Values(PagesCase{"NoPages", false, "", E_NOINTERFACE, 0, ""},
                    PagesCase{"GetPagesFails", true, "GetPages", E_FAIL, 0, "GetPages()"},
                    PagesCase{"GetPagesFalse", true, "GetPages", S_FALSE, 0, "GetPages()"},
                    PagesCase{"InfoFails", true, "QueryFilterInfo", E_FAIL, 0, "GetPages() QueryFilterInfo()"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigDialogTest, FrameStatusIsTheResult) {
  frame_status_ = E_OUTOFMEMORY;
  auto filter = MakeFilter({.label = "Camera", .offers_pages = true});
  EXPECT_EQ(ShowFilterConfigDialog(kOwner, filter.Get(), fdDefaultPages), E_OUTOFMEMORY);
}

TEST_F(ConfigDialogTest, NoPagesStillOpenTheFrame) {
  auto filter = MakeFilter({.label = "Camera", .offers_pages = true, .pages = {}});
  EXPECT_EQ(ShowFilterConfigDialog(kOwner, filter.Get(), fdDefaultPages), S_OK);
  EXPECT_EQ(frame_.calls, 1);
  EXPECT_EQ(frame_.pages, 0u);
}

struct CodecCase {
  const char* name;
  bool offers;
  HRESULT query_answer;
  HRESULT result;
  const char* calls;
};

class CodecDialogTest : public ConfigDialogTest, public testing::WithParamInterface<CodecCase> {};

TEST_P(CodecDialogTest, AsksWhetherTheDialogExistsBeforeShowingIt) {
  auto filter = MakeFilter({.label = "Encoder", .offers_codec_dialogs = GetParam().offers});
  filter->SetAnswer("ShowDialog(4)", GetParam().query_answer);
  EXPECT_EQ(ShowFilterConfigDialog(kOwner, filter.Get(), fdCodecConfig), GetParam().result);
  EXPECT_EQ(filter->Calls(), GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CodecDialogTest,
    testing::Values(CodecCase{"Exists", true, S_OK, S_OK, "ShowDialog(4, 0) ShowDialog(1, owner)"},
                    CodecCase{"Absent", true, S_FALSE, S_FALSE, "ShowDialog(4, 0)"},
                    CodecCase{"Refused", true, E_NOTIMPL, E_NOTIMPL, "ShowDialog(4, 0)"},
                    CodecCase{"NoInterface", false, S_OK, E_NOINTERFACE, ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigDialogTest, EmptyFilterOrOtherKindCallsNothing) {
  EXPECT_EQ(ShowFilterConfigDialog(kOwner, nullptr, fdDefaultPages), S_FALSE);
  auto filter = MakeFilter({.label = "Camera", .offers_pages = true, .offers_codec_dialogs = true});
  ClearJournal();
  for (int kind : {1, 2, 3, 5, 255}) {
    EXPECT_EQ(ShowFilterConfigDialog(kOwner, filter.Get(), static_cast<FilterDialogKind>(kind)), S_FALSE);
  }
  EXPECT_EQ(JournalText(), "");
  EXPECT_EQ(frame_.calls, 0);
}

}  // namespace
