#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <vector>

#include "platform/ui/application.h"

// Helpers for the ui_tests program. Its environment (ui_application.cpp) makes the
// one TApplication and fails any test whose code reports an error it did not expect.

void FailOnErrorReports();

// Collects the errors reported while it lives, as "ClassName: message".
class ErrorRecorder {
 public:
  ErrorRecorder() {
    Application()->SetErrorPresenterForTesting(
        [this](const std::string& class_name, const std::string& message) {
          reports.push_back(class_name + ": " + message);
        });
  }
  ~ErrorRecorder() { FailOnErrorReports(); }
  ErrorRecorder(const ErrorRecorder&) = delete;
  ErrorRecorder& operator=(const ErrorRecorder&) = delete;

  std::vector<std::string> reports;
};

// Closes every modal dialog as soon as it runs, keeping its text and owner.
class ModalDialogCloser {
 public:
  ModalDialogCloser() {
    // A zero interval fires on every turn of the dialog's own loop.
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      if (auto* box = qobject_cast<QMessageBox*>(dialog)) texts.push_back(box->text().toStdString());
      parents.push_back(dialog->parentWidget());
      dialog->done(QDialog::Accepted);
    });
    timer_.start();
  }

  std::vector<std::string> texts;
  std::vector<QWidget*> parents;

 private:
  QTimer timer_;
};
