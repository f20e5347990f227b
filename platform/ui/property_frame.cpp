#include "platform/ui/property_frame.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cassert>
#include <functional>
#include <string>
#include <vector>

namespace {

// Pages tell nobody when they become dirty: the frame asks them after every edit
// it sees and, for editors it does not know, on this short beat.
constexpr int kDirtyPollMs = 250;

QWidget* WidgetOf(OAHWND handle) {
  // A window handle is a QObject* as a number; only a widget can own a dialog.
  return qobject_cast<QWidget*>(reinterpret_cast<QObject*>(handle));
}

QString TitleOf(IPropertyPage* page) {
  LPWSTR title = nullptr;
  QString text;
  if (SUCCEEDED(page->GetTitle(&title)) && title) text = QString::fromUtf16(title);
  CoTaskMemFree(title);
  return text;
}

// Calls `edited` after each change the user makes in a standard editor under `root`.
// Connected after the page's own handlers, so the page has marked itself by then.
void WatchEditors(QWidget* root, QObject* context, const std::function<void()>& edited) {
  for (auto* e : root->findChildren<QLineEdit*>()) QObject::connect(e, &QLineEdit::textChanged, context, edited);
  for (auto* e : root->findChildren<QPlainTextEdit*>()) {
    QObject::connect(e, &QPlainTextEdit::textChanged, context, edited);
  }
  for (auto* e : root->findChildren<QSpinBox*>()) QObject::connect(e, &QSpinBox::valueChanged, context, edited);
  for (auto* e : root->findChildren<QDoubleSpinBox*>()) {
    QObject::connect(e, &QDoubleSpinBox::valueChanged, context, edited);
  }
  for (auto* e : root->findChildren<QComboBox*>()) {
    QObject::connect(e, &QComboBox::currentIndexChanged, context, edited);
  }
  for (auto* e : root->findChildren<QAbstractButton*>()) {
    QObject::connect(e, &QAbstractButton::toggled, context, edited);
    QObject::connect(e, &QAbstractButton::clicked, context, edited);
  }
  for (auto* e : root->findChildren<QAbstractSlider*>()) {
    QObject::connect(e, &QAbstractSlider::valueChanged, context, edited);
  }
}

}  // namespace

HRESULT OleCreatePropertyFrame(OAHWND owner, std::uint32_t x, std::uint32_t y, LPCWSTR caption,
                               ULONG object_count, IUnknown** objects, ULONG page_count,
                               const CLSID* pages, std::uint32_t /*locale*/, DWORD /*reserved*/,
                               void* /*reserved_ptr*/) {
  if ((object_count > 0 && !objects) || (page_count > 0 && !pages)) return E_POINTER;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
  assert(QThread::currentThread() == QCoreApplication::instance()->thread() &&
         "the property frame belongs to the window's thread");

  // On the heap: an owner that goes while the frame is open takes it along.
  QPointer<QDialog> dialog = new QDialog(WidgetOf(owner));
  dialog->setWindowTitle(caption ? QString::fromUtf16(caption) : QString());
  dialog->setObjectName(QStringLiteral("propertyFrame"));
  auto* layout = new QVBoxLayout(dialog);
  auto* tabs = new QTabWidget(dialog);
  tabs->setObjectName(QStringLiteral("pages"));
  layout->addWidget(tabs);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, dialog);
  layout->addWidget(buttons);
  QPointer<QPushButton> apply = buttons->button(QDialogButtonBox::Apply);
  apply->setEnabled(false);

  std::vector<ComPtr<IPropertyPage>> shown;
  const auto any_dirty = [&shown] {
    for (const ComPtr<IPropertyPage>& page : shown) {
      if (page->IsPageDirty() == S_OK) return true;
    }
    return false;
  };
  const std::function<void()> refresh = [&] {
    if (apply) apply->setEnabled(any_dirty());
  };
  // Applies the pages that hold changes; false when one of them refused.
  const auto apply_dirty = [&] {
    bool all_taken = true;
    for (const ComPtr<IPropertyPage>& page : shown) {
      if (page->IsPageDirty() == S_OK && FAILED(page->Apply())) all_taken = false;
    }
    refresh();
    return all_taken;
  };

  for (ULONG i = 0; i < page_count; ++i) {
    ComPtr<IPropertyPage> page;
    // A page class that cannot be made is left out; the others still show.
    if (FAILED(CoCreateInstance(pages[i], &page)) || !page) continue;
    if (FAILED(page->SetObjects(object_count, objects))) {
      page->SetObjects(0, nullptr);
      continue;
    }
    auto* tab = new QWidget;
    const int index = tabs->addTab(tab, TitleOf(page.Get()));
    if (FAILED(page->Activate(reinterpret_cast<OAHWND>(tab)))) {
      page->Deactivate();
      page->SetObjects(0, nullptr);
      tabs->removeTab(index);
      delete tab;
      continue;
    }
    WatchEditors(tab, dialog, refresh);
    shown.push_back(std::move(page));
  }

  QObject::connect(apply, &QPushButton::clicked, dialog, [&] { apply_dirty(); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [&] {
    // A page that refuses its changes keeps the frame open, showing why.
    if (apply_dirty()) dialog->accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  auto* poll = new QTimer(dialog);
  QObject::connect(poll, &QTimer::timeout, dialog, refresh);
  poll->start(kDirtyPollMs);

  // (0, 0) leaves the placement to the window system: centred over the owner.
  if (x != 0 || y != 0) {
    const QWidget* parent = dialog->parentWidget();
    dialog->move(parent ? parent->mapToGlobal(QPoint(static_cast<int>(x), static_cast<int>(y)))
                        : QPoint(static_cast<int>(x), static_cast<int>(y)));
  }

  // Modal: the window's thread keeps dispatching in here, so graph events still arrive.
  dialog->exec();

  for (const ComPtr<IPropertyPage>& page : shown) {
    page->Deactivate();
    page->SetObjects(0, nullptr);
  }
  shown.clear();
  delete dialog.data();
  return S_OK;
}
