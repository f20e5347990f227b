#include "platform/ui/application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include <memory>
#include <stdexcept>
#include <thread>

#include "ui_testing.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint32_t kGraphNotify = WM_APP + 1;

// The program's one application object, made once for every test of ui_tests.
class UiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    application_ = std::make_unique<TApplication>(argc_, argv_);
    FailOnErrorReports();
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[9] = "ui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TApplication> application_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

// The lines of standard error without the notes of Qt's offscreen platform
// ("This plugin does not support raise()").
std::vector<std::string> ReportLines(const std::string& standard_error) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < standard_error.size()) {
    std::size_t end = standard_error.find('\n', start);
    if (end == std::string::npos) end = standard_error.size();
    std::string line = standard_error.substr(start, end - start);
    if (line.rfind("This plugin does not support", 0) != 0) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

struct Message {
  std::uint32_t message;
  WPARAM wparam;
  LPARAM lparam;
  friend bool operator==(const Message&, const Message&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Message& m) {
    return out << "{" << m.message << ", " << m.wparam << ", " << m.lparam << "}";
  }
};

TEST(UtilityWindow, PostedMessagesReachItsProcedureInOrder) {
  std::vector<Message> received;
  TUtilityWindow window([&](std::uint32_t message, WPARAM wparam, LPARAM lparam) {
    received.push_back({message, wparam, lparam});
  });
  ASSERT_NE(window.Handle(), 0);
  EXPECT_TRUE(PostWindowMessage(window.Handle(), kGraphNotify, 1, -1));
  EXPECT_TRUE(PostWindowMessage(window.Handle(), kGraphNotify, 2, 20));
  EXPECT_TRUE(PostWindowMessage(window.Handle(), WM_APP + 7, 3, 30));
  EXPECT_TRUE(received.empty());  // posted, not sent
  Application()->ProcessMessages();
  EXPECT_THAT(received, ElementsAre(Message{kGraphNotify, 1, -1}, Message{kGraphNotify, 2, 20},
                                    Message{WM_APP + 7, 3, 30}));
}

TEST(UtilityWindow, MessagesPostedFromAnotherThreadRunOnTheWindowsThread) {
  std::vector<WPARAM> received;
  std::vector<bool> on_window_thread;
  TUtilityWindow window([&](std::uint32_t, WPARAM wparam, LPARAM) {
    received.push_back(wparam);
    on_window_thread.push_back(QThread::currentThread() == qApp->thread());
  });
  const OAHWND handle = window.Handle();
  int accepted = 0;
  std::thread streaming([&] {
    for (WPARAM i = 0; i < 200; ++i) accepted += PostWindowMessage(handle, kGraphNotify, i, 0) ? 1 : 0;
  });
  streaming.join();
  EXPECT_EQ(accepted, 200);
  Application()->ProcessMessages();
  ASSERT_EQ(received.size(), 200u);
  for (WPARAM i = 0; i < 200; ++i) EXPECT_EQ(received[i], i);
  EXPECT_THAT(on_window_thread, ::testing::Each(true));
}

TEST(UtilityWindow, PostingFailsForWindowsThatAreGoneOrNeverWere) {
  int calls = 0;
  auto window = std::make_unique<TUtilityWindow>([&](std::uint32_t, WPARAM, LPARAM) { ++calls; });
  const OAHWND handle = window->Handle();

  // A message still queued when its window goes is dropped with it.
  EXPECT_TRUE(PostWindowMessage(handle, kGraphNotify, 0, 0));
  window.reset();
  Application()->ProcessMessages();
  EXPECT_EQ(calls, 0);

  int stack_object = 0;
  const std::vector<std::pair<OAHWND, std::uint32_t>> refused = {
      {handle, kGraphNotify},                                 // destroyed
      {0, kGraphNotify},                                      // no window
      {reinterpret_cast<OAHWND>(&stack_object), kGraphNotify},  // not a window
  };
  for (const auto& [target, message] : refused) EXPECT_FALSE(PostWindowMessage(target, message, 0, 0));
}

TEST(UtilityWindow, MessagesOutsideTheApplicationRangeAreRefused) {
  int calls = 0;
  TUtilityWindow window([&](std::uint32_t, WPARAM, LPARAM) { ++calls; });
  // Below the user range a number would be one of Qt's own events (0x10 is a close).
  for (std::uint32_t message : {0x10u, 0x3E7u, 0x10000u}) EXPECT_FALSE(PostWindowMessage(window.Handle(), message, 0, 0));
  Application()->ProcessMessages();
  EXPECT_EQ(calls, 0);
}

TEST(Application, HandlerErrorIsReportedAndTheLoopGoesOn) {
  ErrorRecorder errors;
  TForm form(nullptr);
  Application()->SetMainForm(&form);
  std::vector<WPARAM> handled;
  TUtilityWindow window([&](std::uint32_t, WPARAM wparam, LPARAM) {
    if (wparam == 1) throw EIntfCastError();
    handled.push_back(wparam);
    if (wparam == 3) form.Close();
  });
  PostWindowMessage(window.Handle(), kGraphNotify, 1, 0);
  PostWindowMessage(window.Handle(), kGraphNotify, 2, 0);
  PostWindowMessage(window.Handle(), kGraphNotify, 3, 0);

  ::testing::internal::CaptureStderr();
  const int exit_code = Application()->Run();  // ends when the main window closes
  const std::string standard_error = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(exit_code, 0);
  EXPECT_THAT(handled, ElementsAre(2, 3));
  EXPECT_THAT(errors.reports, ElementsAre("EIntfCastError: Interface not supported"));
  EXPECT_THAT(ReportLines(standard_error), ElementsAre("EIntfCastError: Interface not supported"));
  EXPECT_FALSE(form.IsShown());
  Application()->SetMainForm(nullptr);
}

TEST(Application, GuardedReportsWhatAnActionThrows) {
  ErrorRecorder errors;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(Application()->Guarded([] {}));
  EXPECT_FALSE(Application()->Guarded([] { throw std::runtime_error("boom"); }));
  EXPECT_FALSE(Application()->Guarded([] { throw ELayoutError("line 3: unknown class 'TFoo'"); }));
  EXPECT_FALSE(Application()->Guarded([] { throw 42; }));
  const std::string standard_error = ::testing::internal::GetCapturedStderr();
  // Anything that is not one of our exceptions is reported as an "Exception".
  EXPECT_THAT(errors.reports, ElementsAre("Exception: boom", "ELayoutError: line 3: unknown class 'TFoo'",
                                          "Exception: unknown error"));
  EXPECT_THAT(ReportLines(standard_error), ElementsAre("Exception: boom", "ELayoutError: line 3: unknown class 'TFoo'",
                                                      "Exception: unknown error"));
}

TEST(Application, UnhandledErrorShowsAModalBoxOwnedByTheMainWindow) {
  TForm form(nullptr);
  Application()->SetMainForm(&form);
  Application()->SetErrorPresenterForTesting(nullptr);  // the real message box
  ModalDialogCloser closer;
  ::testing::internal::CaptureStderr();
  Application()->HandleException(EIntfCastError());
  const std::string standard_error = ::testing::internal::GetCapturedStderr();
  FailOnErrorReports();
  Application()->SetMainForm(nullptr);

  EXPECT_THAT(closer.texts, ElementsAre("Interface not supported"));
  EXPECT_THAT(closer.parents, ElementsAre(reinterpret_cast<QWidget*>(form.Handle())));
  EXPECT_THAT(ReportLines(standard_error), ElementsAre("EIntfCastError: Interface not supported"));
}

TEST(Application, ShowMessageShowsAModalBoxOwnedByTheMainWindow) {
  TForm form(nullptr);
  Application()->SetMainForm(&form);
  ModalDialogCloser closer;
  ShowMessage("Hello");
  Application()->SetMainForm(nullptr);
  EXPECT_THAT(closer.texts, ElementsAre("Hello"));
  EXPECT_THAT(closer.parents, ElementsAre(reinterpret_cast<QWidget*>(form.Handle())));
}

TEST(Application, DestroyedMainFormIsNoLongerTheMainForm) {
  auto form = std::make_unique<TForm>(nullptr);
  Application()->SetMainForm(form.get());
  form.reset();
  EXPECT_EQ(Application()->MainForm(), nullptr);
  EXPECT_EQ(Application()->Run(), 0);  // nothing to run
}

}  // namespace

void FailOnErrorReports() {
  Application()->SetErrorPresenterForTesting([](const std::string& class_name, const std::string& message) {
    ADD_FAILURE() << "unexpected error report: " << class_name << ": " << message;
  });
}
