#include "filters/test_pattern_page.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include "filters/filter_classes.h"
#include "filters/network_sender.h"
#include "filters/property_pages.h"
#include "platform/dshow/gst_filter.h"
#include "property_page_testing.h"

// The test pattern camera's page over a real test pattern camera.

namespace {

class TestPatternPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
    ASSERT_EQ(CoCreateInstance(CLSID_TestPatternCamera, &camera_), S_OK);
    ASSERT_EQ(camera_.As(&settings_), S_OK);
  }
  void TearDown() override {
    if (pipeline_) {
      gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
      gst_bin_remove(GST_BIN(pipeline_.get()), ElementOfFilter(camera_.Get()));
      pipeline_.Reset();
    }
    settings_ = nullptr;
    camera_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  TestPatternSettings Current() {
    TestPatternSettings s;
    EXPECT_EQ(settings_->GetSettings(&s), S_OK);
    return s;
  }

  // camera ! fakesink, playing.
  void Run() {
    pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    gst_bin_add_many(GST_BIN(pipeline_.get()), ElementOfFilter(camera_.Get()), sink, nullptr);
    ASSERT_TRUE(gst_element_link(ElementOfFilter(camera_.Get()), sink));
    ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_EQ(gst_element_get_state(pipeline_.get(), nullptr, nullptr, 10 * GST_SECOND),
              GST_STATE_CHANGE_SUCCESS);
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> camera_;
  ComPtr<ITestPatternSettings> settings_;
  GstElementRef pipeline_;
};

TEST_F(TestPatternPageTest, CameraNamesItsPage) {
  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(camera_.As(&specify), S_OK);
  CAUUID pages{};
  ASSERT_EQ(specify->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  EXPECT_EQ(pages.pElems[0], CLSID_TestPatternPage);
  CoTaskMemFree(pages.pElems);
}

TEST_F(TestPatternPageTest, ShowsTheCamerasSettings) {
  TestPatternSettings s;
  s.pattern = TestPattern::kBall;
  s.width = 320;
  s.height = 240;
  s.frame_rate_numerator = 15;
  s.frame_rate_denominator = 2;
  s.format = TestPixelFormat::kYUY2;
  s.stamping = false;
  ASSERT_EQ(settings_->SetSettings(s), S_OK);

  ActivePage page(CLSID_TestPatternPage, camera_.Get());
  EXPECT_EQ(TitleOf(page.operator->()), u"Test Pattern");
  EXPECT_EQ(page.Find<QComboBox>("pattern")->currentData().toInt(), static_cast<int>(TestPattern::kBall));
  EXPECT_EQ(page.Find<QSpinBox>("width")->value(), 320);
  EXPECT_EQ(page.Find<QSpinBox>("height")->value(), 240);
  EXPECT_EQ(page.Find<QSpinBox>("rateNumerator")->value(), 15);
  EXPECT_EQ(page.Find<QSpinBox>("rateDenominator")->value(), 2);
  EXPECT_EQ(page.Find<QComboBox>("pixelFormat")->currentData().toInt(),
            static_cast<int>(TestPixelFormat::kYUY2));
  EXPECT_FALSE(page.Find<QCheckBox>("stamping")->isChecked());
  EXPECT_FALSE(page.Dirty()) << "showing the values is no edit";
  EXPECT_TRUE(page.Find<QLabel>("runningNote")->isHidden());
}

TEST_F(TestPatternPageTest, ApplyHandsTheEditedSettingsToTheCamera) {
  ActivePage page(CLSID_TestPatternPage, camera_.Get());
  page.Find<QComboBox>("pattern")->setCurrentIndex(2);
  page.Find<QSpinBox>("width")->setValue(160);
  page.Find<QSpinBox>("height")->setValue(120);
  page.Find<QSpinBox>("rateNumerator")->setValue(10);
  page.Find<QComboBox>("pixelFormat")->setCurrentIndex(2);
  page.Find<QCheckBox>("stamping")->setChecked(false);
  EXPECT_TRUE(page.Dirty());
  EXPECT_EQ(Current(), TestPatternSettings{}) << "nothing reaches the camera before Apply";

  EXPECT_EQ(page->Apply(), S_OK);
  TestPatternSettings wanted;
  wanted.pattern = TestPattern::kSnow;
  wanted.width = 160;
  wanted.height = 120;
  wanted.frame_rate_numerator = 10;
  wanted.format = TestPixelFormat::kNV12;
  wanted.stamping = false;
  EXPECT_EQ(Current(), wanted);
  EXPECT_FALSE(page.Dirty());
}

TEST_F(TestPatternPageTest, RefusedSettingsLeaveTheCameraAsItWasAndThePageDirty) {
  ActivePage page(CLSID_TestPatternPage, camera_.Get());
  page.Find<QSpinBox>("width")->setValue(161);  // odd widths are refused
  EXPECT_EQ(page->Apply(), E_INVALIDARG);
  EXPECT_EQ(Current(), TestPatternSettings{});
  EXPECT_TRUE(page.Dirty());
  auto* status = page.Find<QLabel>("status");
  EXPECT_FALSE(status->isHidden());
  EXPECT_TRUE(status->text().contains(QStringLiteral("80070057"))) << status->text().toStdString();
}

TEST_F(TestPatternPageTest, WhileTheGraphRunsTheEditorsAreLockedAndThePageSaysWhy) {
  ASSERT_NO_FATAL_FAILURE(Run());
  ActivePage page(CLSID_TestPatternPage, camera_.Get());
  auto* width = page.Find<QSpinBox>("width");
  auto* note = page.Find<QLabel>("runningNote");
  EXPECT_FALSE(width->isEnabled());
  EXPECT_FALSE(note->isHidden());
  EXPECT_TRUE(note->text().contains(QStringLiteral("stopped")));

  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  static_cast<TestPatternPage*>(page.operator->())->RefreshRunningState();
  EXPECT_TRUE(width->isEnabled());
  EXPECT_TRUE(note->isHidden());
  width->setValue(320);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(Current().width, 320);
}

TEST_F(TestPatternPageTest, AnObjectWithoutTheSettingsIsRefused) {
  auto sender = MakeComObject<NetworkSender>();
  ActivePage page(CLSID_TestPatternPage, static_cast<IBaseFilter*>(sender.Get()));
  EXPECT_EQ(page.SetObjectsStatus(), E_NOINTERFACE);
}

}  // namespace
