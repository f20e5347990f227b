#include "filters/property_page_base.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cassert>
#include <cmath>

namespace {

void AssertWindowThread() {
  assert(QCoreApplication::instance() &&
         QThread::currentThread() == QCoreApplication::instance()->thread() &&
         "property pages belong to the window's thread");
}

}  // namespace

PropertyPageBase::PropertyPageBase(std::u16string title) : title_(std::move(title)) {}

PropertyPageBase::~PropertyPageBase() { delete widget_.data(); }

HRESULT PropertyPageBase::SetObjects(ULONG count, IUnknown** objects) {
  if (count > 0 && !objects) return E_POINTER;
  Detach();
  if (count == 0) return S_OK;
  if (!objects[0]) return E_POINTER;
  return Attach(objects[0]);
}

HRESULT PropertyPageBase::GetTitle(LPWSTR* title) {
  if (!title) return E_POINTER;
  auto* text = static_cast<LPWSTR>(CoTaskMemAlloc((title_.size() + 1) * sizeof(char16_t)));
  if (!text) return E_OUTOFMEMORY;
  std::copy(title_.begin(), title_.end(), text);
  text[title_.size()] = u'\0';
  *title = text;
  return S_OK;
}

HRESULT PropertyPageBase::Activate(OAHWND parent) {
  AssertWindowThread();
  auto* parent_widget = qobject_cast<QWidget*>(reinterpret_cast<QObject*>(parent));
  if (!parent_widget) return E_INVALIDARG;
  if (widget_) return E_UNEXPECTED;  // already active
  auto* page = new QWidget(parent_widget);
  page->setObjectName(QStringLiteral("propertyPage"));
  auto* layout = new QVBoxLayout(page);
  Build(page, layout);
  auto* status = new QLabel(page);
  status->setObjectName(QStringLiteral("status"));
  status->setWordWrap(true);
  status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status->hide();
  layout->addWidget(status);
  layout->addStretch(1);
  if (!parent_widget->layout()) new QVBoxLayout(parent_widget);
  parent_widget->layout()->addWidget(page);
  widget_ = page;
  status_ = status;
  dirty_ = false;  // filling the controls is not an edit
  page->show();
  return S_OK;
}

HRESULT PropertyPageBase::Deactivate() {
  AssertWindowThread();
  if (!widget_) return S_OK;
  Unbuild();
  delete widget_.data();
  return S_OK;
}

HRESULT PropertyPageBase::IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT PropertyPageBase::Apply() {
  AssertWindowThread();
  if (!dirty_) return S_OK;
  if (!widget_) return E_UNEXPECTED;  // the edits went with the controls
  const HRESULT status = ApplyChanges();
  if (SUCCEEDED(status)) {
    dirty_ = false;
    ShowStatus({});
  } else {
    ShowStatus(QCoreApplication::translate("PropertyPage", "Not applied: %1").arg(StatusMessage(status)));
  }
  return status;
}

void PropertyPageBase::WatchEdits(QLineEdit* editor) {
  QObject::connect(editor, &QLineEdit::textChanged, editor, [this] { MarkDirty(); });
}

void PropertyPageBase::WatchEdits(QSpinBox* editor) {
  QObject::connect(editor, &QSpinBox::valueChanged, editor, [this] { MarkDirty(); });
}

void PropertyPageBase::WatchEdits(QComboBox* editor) {
  QObject::connect(editor, &QComboBox::currentIndexChanged, editor, [this] { MarkDirty(); });
}

void PropertyPageBase::WatchEdits(QAbstractButton* editor) {
  QObject::connect(editor, &QAbstractButton::toggled, editor, [this] { MarkDirty(); });
}

void PropertyPageBase::ShowStatus(const QString& text) {
  if (!status_) return;
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
}

QString StatusMessage(HRESULT status) {
  return QStringLiteral("%1 (0x%2)")
      .arg(QString::fromStdString(StatusText(status)))
      .arg(static_cast<std::uint32_t>(status), 8, 16, QLatin1Char('0'));
}

QString BitRateText(double bits_per_second) {
  if (bits_per_second >= 1e6) return QStringLiteral("%1 Mbit/s").arg(bits_per_second / 1e6, 0, 'f', 2);
  if (bits_per_second >= 1e3) return QStringLiteral("%1 kbit/s").arg(bits_per_second / 1e3, 0, 'f', 1);
  return QStringLiteral("%1 bit/s").arg(bits_per_second, 0, 'f', 0);
}

QString CountText(std::uint64_t count) { return QString::number(count); }

QString DurationText(double seconds) {
  if (seconds < 0) return QStringLiteral("—");
  if (seconds < 60) return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
  const auto whole = static_cast<long long>(std::floor(seconds));
  return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QLabel* NewValueLabel(const char* object_name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(object_name));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}
