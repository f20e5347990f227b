#pragma once

// Internal to platform/ui: the Qt side of the controls and the application object.
// This header includes Qt; the public headers of platform/ui never include it.

#include <QCoreApplication>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <cassert>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/controls.h"

class QCloseEvent;

// Windows, controls and the application belong to the thread that runs the loop.
inline void AssertOnWindowThread() {
  assert(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
}

// The component classes platform/ui provides itself (TButton, TMemo).
std::vector<std::pair<std::string, ComponentFactory>> StandardControlClasses();

// Runs `action`, handing what it throws to the application's reporting (standard
// error alone while there is no application). Nothing crosses Qt's event loop.
bool RunGuarded(const std::function<void()>& action);

// The objects a posted window message may reach; posting to any other handle fails.
// Registered on the thread that owns the object, unregistered before it is deleted.
void RegisterMessageTarget(const QObject* target);
void UnregisterMessageTarget(const QObject* target);

// "MS Sans Serif" is not found on Linux: a family that renders like it at 8 points.
QString FontFamilyFor(const std::string& requested);
// The form's font before its layout names one: the substitute at 11 pixels, whose
// text height is the design's 13 pixels.
QFont DefaultFormFont();

// The top-level window of a form: hands its close request to the form.
class FormWindow : public QWidget {
 public:
  FormWindow() = default;
  std::function<void(QCloseEvent*)> on_close;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

// The widget of one TWinControl and the hooks it needs from Qt.
struct TWinControl::Widget : QObject {
  Widget(TWinControl* owner, TWinControl::Kind kind);
  ~Widget() override;
  Widget(const Widget&) = delete;
  Widget& operator=(const Widget&) = delete;

  // Keeps the aligned children in place when the widget is resized.
  bool eventFilter(QObject* watched, QEvent* event) override;

  TWinControl* const owner;
  const TWinControl::Kind kind;
  QPointer<QWidget> q;  // owned: deleted with this
  std::string caption;
};
