#include "support/test_world.h"

#include <QCoreApplication>

#include <thread>

#include "media/register_components.h"
#include "platform/com/com.h"
#include "platform/dshow/video_window.h"
#include "support/call_journal.h"
#include "support/fake_filter.h"
#include "support/fake_graph.h"

TApplication& TestApplication() {
  static TApplication* application = [] {
    CoInitialize(nullptr);
    static int argc = 1;
    static char name[] = "presenter-link-tests";
    static char* argv[] = {name, nullptr};
    // Kept until the process ends: Qt wants its application to outlive every widget.
    auto* made = new TApplication(argc, argv);
    RegisterMediaComponentClasses();
    // Positions as stored, whatever font this machine renders.
    TForm::SetTextHeightForTesting(13);
    return made;
  }();
  return *application;
}

void InstallFakeWorld() {
  TestApplication();
  InstallFakeGraphClasses();
  FakeFilterConfig camera{.label = "Camera", .offers_pages = true, .inputs = 0, .outputs = 1};
  FakeFilterConfig encoder{.label = "Encoder", .offers_codec_dialogs = true};
  FakeFilterConfig sender{.label = "Sender", .offers_endpoint = true, .offers_pages = true,
                          .inputs = 1, .outputs = 0};
  FakeFilterConfig receiver{.label = "Receiver", .offers_endpoint = true, .offers_pages = true,
                            .inputs = 0, .outputs = 1};
  FakeFilterConfig decoder{.label = "Decoder", .offers_codec_dialogs = true};
  FakeFilterConfig renderer{.label = "Renderer", .offers_video_window = true, .inputs = 1,
                            .outputs = 0};
  RegisterFakeFilterClass(CLSID_FakeCamera, camera);
  RegisterFakeFilterClass(CLSID_FakeEncoder, encoder);
  RegisterFakeFilterClass(CLSID_FakeSender, sender);
  RegisterFakeFilterClass(CLSID_FakeReceiver, receiver);
  RegisterFakeFilterClass(CLSID_FakeDecoder, decoder);
  RegisterFakeFilterClass(CLSID_FakeRenderer, renderer);
  RegisterFakeFilterClass(CLSID_VideoRenderer, renderer);
  ResetFakeCounts();
  ClearJournal();
}

void ProcessMessages() { TestApplication().ProcessMessages(); }

bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline_after) {
  const auto deadline = std::chrono::steady_clock::now() + deadline_after;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

ReportedErrors::ReportedErrors() {
  TestApplication().SetErrorPresenterForTesting(
      [this](const std::string& class_name, const std::string& message) {
        lines_.push_back(class_name + ": " + message);
      });
}

ReportedErrors::~ReportedErrors() { TestApplication().SetErrorPresenterForTesting(nullptr); }

std::string ReportedErrors::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += (text.empty() ? "" : "\n") + line;
  return text;
}
