#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "platform/ui/application.h"

// The process-wide set-up of the window's tests: the thread's apartment, the
// application object (kept for the whole program) and the component classes.
TApplication& TestApplication();

// Installs the fake graph manager and builder and the fake filter classes in
// their default configuration: camera (one output, property pages), encoder and
// decoder (codec dialogs), sender and receiver (endpoint, property pages), and a
// renderer with a window control under the video renderer's class. Clears the
// journal and the counts.
void InstallFakeWorld();

// Dispatches what is queued for the window's thread (posted graph notifications).
void ProcessMessages();

// Runs the window's loop (or an open dialog's, when called inside it) until
// `done` holds; false when `deadline_after` passed first. The deadline only
// keeps a broken build from hanging the run.
bool RunLoopUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds deadline_after = std::chrono::seconds(15));

// Collects the errors the application reports ("EIntfCastError: Interface not
// supported") while it lives.
class ReportedErrors {
 public:
  ReportedErrors();
  ~ReportedErrors();
  const std::vector<std::string>& Lines() const { return lines_; }
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
};
