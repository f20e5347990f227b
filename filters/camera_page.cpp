#include "filters/camera_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kRefreshMs = 1000;

QString SizeText(int width, int height) { return QStringLiteral("%1 × %2").arg(width).arg(height); }

QString RateText(int numerator, int denominator) {
  const double rate = static_cast<double>(numerator) / denominator;
  return QStringLiteral("%1 a second").arg(rate, 0, 'g', 4);
}

// Sizes and rates travel in the combo boxes as one 64-bit number each.
qlonglong Pack(int high, int low) {
  return (static_cast<qlonglong>(high) << 32) | static_cast<std::uint32_t>(low);
}
int High(qlonglong packed) { return static_cast<int>(packed >> 32); }
int Low(qlonglong packed) { return static_cast<int>(packed & 0xFFFFFFFF); }

}  // namespace

CameraPage::CameraPage() : PropertyPageBase(u"Camera") {}

HRESULT CameraPage::Attach(IUnknown* object) {
  const HRESULT status =
      object->QueryInterface(ICameraControls::iid, camera_.ReleaseAndGetVoidAddress());
  if (FAILED(status)) return status;
  object->QueryInterface(IBaseFilter::iid, filter_.ReleaseAndGetVoidAddress());
  return S_OK;
}

void CameraPage::Detach() {
  camera_ = nullptr;
  filter_ = nullptr;
}

bool CameraPage::CameraRuns() const {
  FILTER_STATE state = State_Stopped;
  return filter_ && SUCCEEDED(filter_->GetState(0, &state)) && state != State_Stopped;
}

void CameraPage::Build(QWidget* page, QVBoxLayout* layout) {
  CaptureDevice device;
  if (camera_) camera_->GetDevice(&device);

  auto* device_box = new QGroupBox(QStringLiteral("Device"), page);
  auto* device_form = new QFormLayout(device_box);
  QLabel* name = NewValueLabel("deviceName", device_box);
  name->setText(device.name.empty() ? QStringLiteral("—") : QString::fromStdString(device.name));
  device_form->addRow(QStringLiteral("Name:"), name);
  QLabel* path = NewValueLabel("devicePath", device_box);
  path->setText(QString::fromStdString(device.path));
  device_form->addRow(QStringLiteral("Path:"), path);
  QLabel* ids = NewValueLabel("usbIds", device_box);
  ids->setText(QStringLiteral("%1:%2")
                   .arg(device.vendor_id, 4, 16, QLatin1Char('0'))
                   .arg(device.product_id, 4, 16, QLatin1Char('0')));
  device_form->addRow(QStringLiteral("USB vendor:product:"), ids);
  layout->addWidget(device_box);

  // What the device offers, asked once per opening of the page.
  offered_.clear();
  const bool opened = camera_ && SUCCEEDED(camera_->GetFormats(&offered_));
  applied_format_ = {};
  if (camera_) camera_->GetFormat(&applied_format_);

  auto* format_box = new QGroupBox(QStringLiteral("Format it delivers"), page);
  auto* format_layout = new QVBoxLayout(format_box);
  format_editors_ = new QWidget(format_box);
  auto* format_form = new QFormLayout(format_editors_);
  format_form->setContentsMargins(0, 0, 0, 0);
  pixel_format_ = new QComboBox(format_editors_);
  pixel_format_->setObjectName(QStringLiteral("pixelFormat"));
  pixel_format_->addItem(QStringLiteral("Automatic: 640 × 480 at 30 a second where offered"),
                         QString());
  for (const CameraFormat& f : offered_) {
    const QString text = QString::fromStdString(f.pixel_format);
    if (pixel_format_->findData(text) < 0) pixel_format_->addItem(text, text);
  }
  size_ = new QComboBox(format_editors_);
  size_->setObjectName(QStringLiteral("size"));
  rate_ = new QComboBox(format_editors_);
  rate_->setObjectName(QStringLiteral("frameRate"));
  format_form->addRow(QStringLiteral("Pixel format:"), pixel_format_);
  format_form->addRow(QStringLiteral("Size:"), size_);
  format_form->addRow(QStringLiteral("Frame rate:"), rate_);
  format_layout->addWidget(format_editors_);
  if (!opened) {
    QLabel* note = NewValueLabel("formatsNote", format_box);
    note->setWordWrap(true);
    note->setText(QStringLiteral("The device cannot be opened now, so its formats are not known; "
                                 "the camera chooses its own format."));
    format_layout->addWidget(note);
  } else if (offered_.empty()) {
    QLabel* note = NewValueLabel("formatsNote", format_box);
    note->setWordWrap(true);
    note->setText(QStringLiteral("The device offers no raw format of a fixed size."));
    format_layout->addWidget(note);
  }
  running_note_ = new QLabel(
      QStringLiteral("The graph is running: the format can change only while it is stopped. "
                     "Image controls apply at once."),
      format_box);
  running_note_->setObjectName(QStringLiteral("runningNote"));
  running_note_->setWordWrap(true);
  format_layout->addWidget(running_note_);
  layout->addWidget(format_box);

  // Show the format asked for, then keep the three boxes in step with each other.
  pixel_format_->setCurrentIndex(
      std::max(0, pixel_format_->findData(QString::fromStdString(applied_format_.pixel_format))));
  FillSizes();
  size_->setCurrentIndex(
      std::max(0, size_->findData(Pack(applied_format_.width, applied_format_.height))));
  FillRates();
  rate_->setCurrentIndex(std::max(
      0, rate_->findData(Pack(applied_format_.rate_numerator, applied_format_.rate_denominator))));
  QObject::connect(pixel_format_, &QComboBox::currentIndexChanged, page, [this] {
    FillSizes();
    FillRates();
  });
  QObject::connect(size_, &QComboBox::currentIndexChanged, page, [this] { FillRates(); });
  WatchEdits(pixel_format_);
  WatchEdits(size_);
  WatchEdits(rate_);

  auto* controls_box = new QGroupBox(QStringLiteral("Image controls"), page);
  auto* controls_form = new QFormLayout(controls_box);
  std::vector<CameraControl> controls;
  if (opened) camera_->GetControls(&controls);
  controls_.clear();
  for (const CameraControl& control : controls) {
    auto* row = new QHBoxLayout;
    auto* slider = new QSlider(Qt::Horizontal, controls_box);
    auto* spin = new QSpinBox(controls_box);
    spin->setObjectName(QStringLiteral("control:%1").arg(QString::fromStdString(control.name)));
    for (auto* editor : {static_cast<QWidget*>(slider), static_cast<QWidget*>(spin)}) {
      editor->setToolTip(QStringLiteral("%1 to %2").arg(control.minimum).arg(control.maximum));
    }
    slider->setRange(control.minimum, control.maximum);
    spin->setRange(control.minimum, control.maximum);
    slider->setValue(control.value);
    spin->setValue(control.value);
    QObject::connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
    QObject::connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
    WatchEdits(spin);
    row->addWidget(slider, 1);
    row->addWidget(spin);
    controls_form->addRow(QString::fromStdString(control.name) + QLatin1Char(':'), row);
    controls_.push_back({control, spin});
  }
  if (controls.empty()) {
    QLabel* none = NewValueLabel("controlsNote", controls_box);
    none->setText(opened ? QStringLiteral("The device has no image controls.")
                         : QStringLiteral("The device cannot be opened now."));
    controls_form->addRow(none);
  }
  layout->addWidget(controls_box);

  timer_ = new QTimer(page);
  QObject::connect(timer_, &QTimer::timeout, page, [this] { RefreshRunningState(); });
  timer_->start(kRefreshMs);
  RefreshRunningState();
}

void CameraPage::FillSizes() {
  const QString format = pixel_format_->currentData().toString();
  const QSignalBlocker quiet(size_);
  size_->clear();
  for (const CameraFormat& f : offered_) {
    if (QString::fromStdString(f.pixel_format) != format) continue;
    const qlonglong key = Pack(f.width, f.height);
    if (size_->findData(key) < 0) size_->addItem(SizeText(f.width, f.height), key);
  }
  size_->setEnabled(size_->count() > 0);
}

void CameraPage::FillRates() {
  const QString format = pixel_format_->currentData().toString();
  const qlonglong size = size_->currentData().toLongLong();
  const QSignalBlocker quiet(rate_);
  rate_->clear();
  for (const CameraFormat& f : offered_) {
    if (QString::fromStdString(f.pixel_format) != format || Pack(f.width, f.height) != size) continue;
    const qlonglong key = Pack(f.rate_numerator, f.rate_denominator);
    if (rate_->findData(key) < 0) rate_->addItem(RateText(f.rate_numerator, f.rate_denominator), key);
  }
  rate_->setEnabled(rate_->count() > 0);
}

CameraFormat CameraPage::ChosenFormat() const {
  CameraFormat format;
  format.pixel_format = pixel_format_->currentData().toString().toStdString();
  if (format.pixel_format.empty() || size_->count() == 0 || rate_->count() == 0) return {};
  const qlonglong size = size_->currentData().toLongLong();
  const qlonglong rate = rate_->currentData().toLongLong();
  format.width = High(size);
  format.height = Low(size);
  format.rate_numerator = High(rate);
  format.rate_denominator = Low(rate);
  return format;
}

void CameraPage::RefreshRunningState() {
  if (!format_editors_) return;
  const bool runs = CameraRuns();
  format_editors_->setEnabled(!runs);
  running_note_->setVisible(runs);
}

HRESULT CameraPage::ApplyChanges() {
  if (!camera_) return E_UNEXPECTED;
  // Controls first: they work in every state, so a refused format loses none of them.
  for (ControlEditor& c : controls_) {
    if (c.editor->value() == c.control.value) continue;
    const HRESULT status = camera_->SetControl(c.control.name, c.editor->value());
    if (FAILED(status)) return status;
    c.control.value = c.editor->value();
  }
  const CameraFormat wanted = ChosenFormat();
  if (!(wanted == applied_format_)) {
    const HRESULT status = camera_->SetFormat(wanted);
    if (FAILED(status)) return status;
    applied_format_ = wanted;
  }
  return S_OK;
}

void CameraPage::Unbuild() {
  if (timer_) timer_->stop();
  format_editors_ = nullptr;
  pixel_format_ = size_ = rate_ = nullptr;
  running_note_ = nullptr;
  controls_.clear();
  timer_ = nullptr;
}
