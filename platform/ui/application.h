#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/com/window_message.h"
#include "platform/ui/controls.h"

// The application object: the message loop, the main window and the reporting of
// errors that no handler handles. Wraps a QApplication that it owns or finds.

class TApplication {
 public:
  // Makes (or adopts an existing) QApplication and installs the window-message
  // poster, so graph events reach hidden windows as posted Qt events.
  TApplication(int& argc, char** argv);
  ~TApplication();

  TForm* MainForm() const { return main_form_; }
  void SetMainForm(TForm* form) { main_form_ = form; }
  // Runs the loop until the main window closes. Returns the loop's exit code.
  int Run();
  // Dispatches what is queued, without waiting (tests use it).
  void ProcessMessages();
  void Terminate();

  // Reports an error that escaped a handler or a drain: a modal message box with
  // the error's message, and "ClassName: message" on standard error.
  void HandleException(const std::exception& error);
  // Runs `action`, reporting anything it throws; true when it returned normally.
  bool Guarded(const std::function<void()>& action);

  // Tests replace the message box (they see class name and message).
  using ErrorPresenter = std::function<void(const std::string& class_name, const std::string& message)>;
  void SetErrorPresenterForTesting(ErrorPresenter presenter);

 private:
  struct State;
  std::unique_ptr<State> state_;
  TForm* main_form_ = nullptr;
};

// The one application object, or null before it is made.
TApplication* Application();

// A hidden window of its own for a component: receives posted messages on the
// window's thread and hands them to `procedure`. Errors thrown by the procedure
// go to the application's reporting.
class TUtilityWindow {
 public:
  using Procedure = std::function<void(std::uint32_t message, WPARAM wparam, LPARAM lparam)>;
  explicit TUtilityWindow(Procedure procedure);
  ~TUtilityWindow();
  TUtilityWindow(const TUtilityWindow&) = delete;
  TUtilityWindow& operator=(const TUtilityWindow&) = delete;
  // A QObject* as a number; messages posted to it arrive as Qt events of type `message`.
  OAHWND Handle() const;

 private:
  struct Receiver;
  std::unique_ptr<Receiver> receiver_;
};

// A modal message box owned by the main window.
void ShowMessage(const std::string& text);
