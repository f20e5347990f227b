#include "platform/ui/application.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QSessionManager>
#include <QThread>

#include <cassert>
#include <cstdio>
#include <mutex>
#include <unordered_set>

#include "platform/ui/qt_controls.h"

namespace {

TApplication* the_application = nullptr;

// A posted window message: the event type is the message number.
class WindowMessageEvent final : public QEvent {
 public:
  WindowMessageEvent(std::uint32_t message, WPARAM wparam, LPARAM lparam)
      : QEvent(QEvent::Type(message)), wparam_(wparam), lparam_(lparam) {}
  WPARAM wparam() const { return wparam_; }
  LPARAM lparam() const { return lparam_; }

 private:
  WPARAM wparam_;
  LPARAM lparam_;
};

// Handles that may be posted to. Streaming threads post while the window's thread
// destroys receivers: an object leaves this set before it is deleted, and posting
// happens under the same lock, so a message never goes to a deleted object (Qt
// drops the events still queued for an object when it is deleted).
struct MessageTargets {
  std::mutex mutex;
  std::unordered_set<std::uintptr_t> live;
};

MessageTargets& Targets() {
  static MessageTargets targets;
  return targets;
}

bool PostAsQtEvent(OAHWND window, std::uint32_t message, WPARAM wparam, LPARAM lparam) {
  // Only the user range of Qt's event types: a lower number would be one of Qt's own events.
  if (window == 0 || message < std::uint32_t(QEvent::User) || message > std::uint32_t(QEvent::MaxUser))
    return false;
  MessageTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  if (!targets.live.contains(std::uintptr_t(window))) return false;
  QCoreApplication::postEvent(reinterpret_cast<QObject*>(window),
                              new WindowMessageEvent(message, wparam, lparam));
  return true;
}

struct ErrorReport {
  std::string class_name;
  std::string message;
};

ErrorReport Describe(const std::exception& error) {
  const auto* named = dynamic_cast<const Exception*>(&error);
  return {named ? named->ClassName() : "Exception", error.what()};
}

QWidget* MainWindowWidget() {
  TApplication* application = Application();
  TForm* form = application ? application->MainForm() : nullptr;
  return form ? reinterpret_cast<QWidget*>(form->Handle()) : nullptr;
}

}  // namespace

void RegisterMessageTarget(const QObject* target) {
  if (!target) return;
  MessageTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  targets.live.insert(reinterpret_cast<std::uintptr_t>(target));
}

void UnregisterMessageTarget(const QObject* target) {
  if (!target) return;
  MessageTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  targets.live.erase(reinterpret_cast<std::uintptr_t>(target));
}

bool RunGuarded(const std::function<void()>& action) {
  if (TApplication* application = Application()) return application->Guarded(action);
  try {
    action();
    return true;
  } catch (const std::exception& error) {
    const ErrorReport report = Describe(error);
    std::fprintf(stderr, "%s: %s\n", report.class_name.c_str(), report.message.c_str());
  } catch (...) {
    std::fprintf(stderr, "Exception: unknown error\n");
  }
  return false;
}

struct TApplication::State {
  std::unique_ptr<QApplication> owned;
  ErrorPresenter presenter;
  QMetaObject::Connection session_query;
};

TApplication::TApplication(int& argc, char** argv) : state_(std::make_unique<State>()) {
  assert(!the_application && "one application object at a time");
  if (!QCoreApplication::instance()) state_->owned = std::make_unique<QApplication>(argc, argv);
  assert(qobject_cast<QApplication*>(QCoreApplication::instance()) && "a widgets application is needed");
  // The loop ends when the main window closes, not when a message box does.
  QApplication::setQuitOnLastWindowClosed(false);
  // The session's "may the program end?" runs the main window's close query and
  // leaves the window open; a refusal cancels the log-off.
  state_->session_query = QObject::connect(
      qApp, &QGuiApplication::commitDataRequest, qApp, [this](QSessionManager& manager) {
        if (TForm* form = main_form_; form && !form->QueryEndSession()) manager.cancel();
      });
  the_application = this;
  SetWindowMessagePoster(&PostAsQtEvent);
}

TApplication::~TApplication() {
  SetWindowMessagePoster(nullptr);
  QObject::disconnect(state_->session_query);
  the_application = nullptr;
  state_->owned.reset();
}

int TApplication::Run() {
  AssertOnWindowThread();
  if (!main_form_) return 0;
  if (!main_form_->IsShown()) main_form_->Show();
  return QApplication::exec();
}

void TApplication::ProcessMessages() {
  AssertOnWindowThread();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Terminate() { QCoreApplication::quit(); }

void TApplication::HandleException(const std::exception& error) {
  AssertOnWindowThread();
  const ErrorReport report = Describe(error);
  std::fprintf(stderr, "%s: %s\n", report.class_name.c_str(), report.message.c_str());
  std::fflush(stderr);
  if (state_->presenter) {
    state_->presenter(report.class_name, report.message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                  QString::fromStdString(report.message), QMessageBox::Ok, MainWindowWidget());
  box.exec();
}

bool TApplication::Guarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& error) {
    HandleException(error);
  } catch (...) {
    HandleException(Exception("unknown error"));
  }
  return false;
}

void TApplication::SetErrorPresenterForTesting(ErrorPresenter presenter) {
  state_->presenter = std::move(presenter);
}

TApplication* Application() { return the_application; }

// ---- TUtilityWindow --------------------------------------------------------------

// Never shown: a plain object that lives on the thread that made it.
struct TUtilityWindow::Receiver final : QObject {
  explicit Receiver(Procedure handler) : procedure(std::move(handler)) { RegisterMessageTarget(this); }
  ~Receiver() override { UnregisterMessageTarget(this); }

  bool event(QEvent* event) override {
    const auto type = std::uint32_t(event->type());
    if (type < std::uint32_t(QEvent::User) || type > std::uint32_t(QEvent::MaxUser)) return QObject::event(event);
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    if (const auto* message = dynamic_cast<const WindowMessageEvent*>(event)) {
      wparam = message->wparam();
      lparam = message->lparam();
    }
    RunGuarded([&] { procedure(type, wparam, lparam); });
    return true;
  }

  Procedure procedure;
};

TUtilityWindow::TUtilityWindow(Procedure procedure)
    : receiver_(std::make_unique<Receiver>(std::move(procedure))) {
  AssertOnWindowThread();
}

TUtilityWindow::~TUtilityWindow() { AssertOnWindowThread(); }

OAHWND TUtilityWindow::Handle() const {
  return reinterpret_cast<OAHWND>(static_cast<QObject*>(receiver_.get()));
}

void ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), QString::fromStdString(text),
                  QMessageBox::Ok, MainWindowWidget());
  box.exec();
}
