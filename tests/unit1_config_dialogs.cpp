// The six Config buttons of the window over the real filters (the stored layout
// with the test pattern camera in place of the USB camera), nothing running and
// nothing sent: each opens its filter's dialog owned by the main window, and the
// test closes it.
#include "Unit1.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QTabWidget>

#include <memory>
#include <string>
#include <vector>

#include "filters/camera_devices.h"
#include "filters/filter_classes.h"
#include "platform/com/com.h"
#include "property_page_testing.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

// What a test saw of a dialog before closing it.
struct Shown {
  std::string kind;  // the dialog's object name
  std::string caption;
  std::vector<std::string> tabs;
  QWidget* owner = nullptr;
};

Shown CloseAndDescribe(QDialog* dialog) {
  Shown shown;
  shown.kind = dialog->objectName().toStdString();
  shown.caption = dialog->windowTitle().toStdString();
  shown.owner = dialog->parentWidget();
  if (auto* tabs = dialog->findChild<QTabWidget*>()) {
    for (int i = 0; i < tabs->count(); ++i) shown.tabs.push_back(tabs->tabText(i).toStdString());
  }
  dialog->reject();
  return shown;
}

class ConfigDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    // No camera on this machine, and none asked of the system either.
    SetCaptureDeviceListerForTesting([] { return std::vector<CaptureDevice>{}; });
    live_at_start_ = ComLiveObjectCount();
    form_ = TForm1::Create(TestPatternLayout());
    ASSERT_NE(form_, nullptr);
    form_->Show();
  }
  void TearDown() override {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog was left open";
    form_.reset();
    QCoreApplication::processEvents();
    SetCaptureDeviceListerForTesting(nullptr);
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  QWidget* Window() const { return reinterpret_cast<QWidget*>(form_->Handle()); }
  TButton* ButtonNamed(const std::string& name) {
    return dynamic_cast<TButton*>(form_->FindComponent(name));
  }

  long live_at_start_ = 0;
  std::unique_ptr<TForm1> form_;
};

struct ButtonCase {
  const char* button;
  const char* kind;
  const char* caption;
  std::vector<std::string> tabs;
};

class ConfigButtonDialogTest : public ConfigDialogsTest,
                               public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ConfigButtonDialogTest, OpensItsFiltersDialogOwnedByTheMainWindow) {
  ReportedErrors errors;
  Shown shown;
  WhenModal step([&](QDialog* dialog) { shown = CloseAndDescribe(dialog); });
  ButtonNamed(GetParam().button)->Click();
  EXPECT_EQ(errors.Text(), "");
  EXPECT_EQ(shown.kind, GetParam().kind);
  EXPECT_EQ(shown.owner, Window());
  EXPECT_EQ(shown.caption, GetParam().caption);
  EXPECT_EQ(shown.tabs, GetParam().tabs);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, ConfigButtonDialogTest,
    ::testing::Values(
        ButtonCase{"Button8", "propertyFrame", "SourceFilter", {"Test Pattern"}},
        ButtonCase{"Button9", "encoderDialog", "Xvid MPEG-4 Codec Configuration", {}},
        ButtonCase{"Button10", "propertyFrame", "SenderFilter", {"Network Sender"}},
        ButtonCase{"Button5", "propertyFrame", "ReceiveFilter", {"Network Receiver"}}),
    [](const auto& info) { return std::string(info.param.button); });

TEST_F(ConfigDialogsTest, ConfigDecoderShowsNothingForTheDecoderHasNoDialog) {
  ReportedErrors errors;
  ModalDialogWatch watch;
  form_->Button6->Click();
  QCoreApplication::processEvents();
  EXPECT_EQ(watch.Shown(), 0);
  EXPECT_EQ(errors.Text(), "");
}

TEST_F(ConfigDialogsTest, ConfigRendererReportsInterfaceNotSupportedAndTheProgramGoesOn) {
  ReportedErrors errors;
  {
    ModalDialogWatch watch;
    form_->Button7->Click();
    QCoreApplication::processEvents();
    EXPECT_EQ(watch.Shown(), 0);
  }
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");

  // The window still answers: the next button opens its dialog.
  Shown shown;
  WhenModal step([&](QDialog* dialog) { shown = CloseAndDescribe(dialog); });
  form_->Button10->Click();
  EXPECT_EQ(shown.caption, "SenderFilter");
}

TEST_F(ConfigDialogsTest, ConfigCameraWithTheUsbCameraAbsentReportsInterfaceNotSupported) {
  form_.reset();
  form_ = TForm1::Create();  // the stored layout: the USB camera it names is not attached
  ReportedErrors errors;
  ModalDialogWatch watch;
  form_->Button8->Click();
  QCoreApplication::processEvents();
  EXPECT_EQ(watch.Shown(), 0);
  EXPECT_EQ(errors.Text(), "EIntfCastError: Interface not supported");
}

TEST_F(ConfigDialogsTest, EachPressOpensTheDialogAnew) {
  std::vector<std::string> captions;
  for (int press = 0; press < 2; ++press) {
    WhenModal step([&](QDialog* dialog) { captions.push_back(CloseAndDescribe(dialog).caption); });
    form_->Button5->Click();
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"ReceiveFilter", "ReceiveFilter"}));
}

}  // namespace
