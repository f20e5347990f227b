#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "platform/com/com.h"
#include "platform/com/property_page.h"

// Helpers for the tests of our filters' property pages and dialogs.

// The program's QApplication, made by the first caller if no one has made it.
inline void EnsureQtApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "filters_tests";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
}

// A page of `clsid` over `object`, activated inside a widget of its own, as the
// frame would show it; deactivated and let go when it ends.
class ActivePage {
 public:
  ActivePage(REFCLSID clsid, IUnknown* object) {
    EnsureQtApplication();
    EXPECT_EQ(CoCreateInstance(clsid, &page_), S_OK);
    if (!page_) return;
    IUnknown* objects[] = {object};
    set_objects_ = page_->SetObjects(1, objects);
    if (FAILED(set_objects_)) return;
    tab_ = std::make_unique<QWidget>();
    EXPECT_EQ(page_->Activate(reinterpret_cast<OAHWND>(tab_.get())), S_OK);
  }
  ~ActivePage() {
    if (!page_) return;
    page_->Deactivate();
    page_->SetObjects(0, nullptr);
  }
  ActivePage(const ActivePage&) = delete;
  ActivePage& operator=(const ActivePage&) = delete;

  IPropertyPage* operator->() const { return page_.Get(); }
  HRESULT SetObjectsStatus() const { return set_objects_; }
  bool Dirty() const { return page_->IsPageDirty() == S_OK; }

  // The control named `name` on the page; fails the test when there is none.
  template <class T>
  T* Find(const char* name) const {
    T* found = tab_ ? tab_->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QWidget* Tab() const { return tab_.get(); }

 private:
  ComPtr<IPropertyPage> page_;
  HRESULT set_objects_ = E_FAIL;
  std::unique_ptr<QWidget> tab_;
};

inline std::u16string TitleOf(IPropertyPage* page) {
  LPWSTR title = nullptr;
  if (FAILED(page->GetTitle(&title))) return {};
  std::u16string text = title;
  CoTaskMemFree(title);
  return text;
}

// While it lives, runs `step` once, as soon as a modal dialog is up, inside the
// dialog's loop; the step closes the dialog.
class WhenModal {
 public:
  explicit WhenModal(std::function<void(QDialog*)> step) : step_(std::move(step)) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      timer_.stop();
      step_(dialog);
    });
    timer_.start();
  }
  WhenModal(const WhenModal&) = delete;
  WhenModal& operator=(const WhenModal&) = delete;

 private:
  std::function<void(QDialog*)> step_;
  QTimer timer_;
};

// While it lives, notes every modal dialog that comes up and closes it at once:
// for calls that should show nothing.
class ModalDialogWatch {
 public:
  ModalDialogWatch() {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      ++shown_;
      dialog->reject();
    });
    timer_.start();
  }
  int Shown() const { return shown_; }

 private:
  QTimer timer_;
  int shown_ = 0;
};
