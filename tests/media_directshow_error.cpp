#include "media/directshow_error.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_filter.h"
#include "support/test_world.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct StatusCase {
  HRESULT status;
  const char* suffix;
};

class StatusCheckTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusCheckTest, FailureRaisesWithTextAndHexStatus) {
  try {
    CheckDSError(GetParam().status);
    FAIL() << "no error raised";
  } catch (const EDirectShowException& error) {
    EXPECT_EQ(error.ErrorCode(), GetParam().status);
    EXPECT_STREQ(error.ClassName(), "EDirectShowException");
    const std::string message = error.what();
    EXPECT_TRUE(EndsWith(message, GetParam().suffix)) << message;
    EXPECT_EQ(message, StatusText(GetParam().status) + GetParam().suffix);
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, StatusCheckTest,
                         testing::Values(StatusCase{E_FAIL, " ($80004005)."},
                                         StatusCase{E_NOINTERFACE, " ($80004002)."},
                                         StatusCase{VFW_E_NOT_CONNECTED, " ($80040209)."},
                                         StatusCase{MakeStatus(0x80000001), " ($80000001)."}));

TEST(StatusCheck, SuccessStatusesPassUnchanged) {
  EXPECT_EQ(CheckDSError(S_OK), S_OK);
  EXPECT_EQ(CheckDSError(S_FALSE), S_FALSE);
  EXPECT_EQ(CheckDSError(VFW_S_PARTIAL_RENDER), VFW_S_PARTIAL_RENDER);
}

// Answers whatever status it is told to, with or without an object.
class ScriptedSource : public InterfaceSource {
 public:
  ScriptedSource(HRESULT status, IUnknown* object) : status_(status), object_(object) {}
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = object_;
    if (object_) object_->AddRef();
    return status_;
  }

 private:
  HRESULT status_;
  IUnknown* object_;
};

TEST(IntfCast, AcceptsOnlyExactlySOk) {
  TestApplication();
  auto filter = MakeComObject<FakeFilter>(CLSID_FakeCamera, FakeFilterConfig{.label = "Cast"});
  IUnknown* object = static_cast<IBaseFilter*>(filter.Get());
  ScriptedSource ok(S_OK, object);
  EXPECT_EQ(IntfCast<IBaseFilter>(ok).Get(), static_cast<IBaseFilter*>(filter.Get()));
  for (HRESULT refused : {S_FALSE, E_NOINTERFACE, E_FAIL}) {
    ScriptedSource source(refused, refused == S_FALSE ? object : nullptr);
    try {
      IntfCast<IBaseFilter>(source);
      ADD_FAILURE() << "accepted status " << refused;
    } catch (const EIntfCastError& error) {
      EXPECT_STREQ(error.what(), "Interface not supported");
    }
  }
}

}  // namespace
