#include "filters/test_pattern_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kRefreshMs = 1000;

struct Choice {
  const char* text;
  std::int32_t value;
};

constexpr Choice kPatterns[] = {
    {"Moving colour bars", static_cast<std::int32_t>(TestPattern::kMovingBars)},
    {"Bouncing ball", static_cast<std::int32_t>(TestPattern::kBall)},
    {"Snow", static_cast<std::int32_t>(TestPattern::kSnow)},
};

constexpr Choice kFormats[] = {
    {"I420 (planar 4:2:0)", static_cast<std::int32_t>(TestPixelFormat::kI420)},
    {"YUY2 (packed 4:2:2)", static_cast<std::int32_t>(TestPixelFormat::kYUY2)},
    {"NV12 (4:2:0, interleaved chroma)", static_cast<std::int32_t>(TestPixelFormat::kNV12)},
};

template <std::size_t N>
QComboBox* NewChoiceBox(const char* name, const Choice (&choices)[N], std::int32_t current,
                        QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  for (const Choice& c : choices) box->addItem(QString::fromUtf8(c.text), c.value);
  box->setCurrentIndex(std::max(0, box->findData(current)));
  return box;
}

QSpinBox* NewSpinBox(const char* name, int minimum, int maximum, int step, int value,
                     QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setRange(minimum, maximum);
  box->setSingleStep(step);
  box->setValue(value);
  return box;
}

}  // namespace

TestPatternPage::TestPatternPage() : PropertyPageBase(u"Test Pattern") {}

HRESULT TestPatternPage::Attach(IUnknown* object) {
  const HRESULT status = object->QueryInterface(ITestPatternSettings::iid,
                                                settings_.ReleaseAndGetVoidAddress());
  if (FAILED(status)) return status;
  object->QueryInterface(IBaseFilter::iid, filter_.ReleaseAndGetVoidAddress());
  return S_OK;
}

void TestPatternPage::Detach() {
  settings_ = nullptr;
  filter_ = nullptr;
}

bool TestPatternPage::CameraRuns() const {
  FILTER_STATE state = State_Stopped;
  return filter_ && SUCCEEDED(filter_->GetState(0, &state)) && state != State_Stopped;
}

void TestPatternPage::Build(QWidget* page, QVBoxLayout* layout) {
  TestPatternSettings current;
  if (settings_) settings_->GetSettings(&current);

  editors_ = new QWidget(page);
  auto* form = new QFormLayout(editors_);
  form->setContentsMargins(0, 0, 0, 0);
  pattern_ = NewChoiceBox("pattern", kPatterns, static_cast<std::int32_t>(current.pattern), editors_);
  form->addRow(QStringLiteral("Pattern:"), pattern_);

  auto* size = new QHBoxLayout;
  width_ = NewSpinBox("width", 16, 4096, 2, current.width, editors_);
  height_ = NewSpinBox("height", 12, 4096, 2, current.height, editors_);
  size->addWidget(width_);
  size->addWidget(new QLabel(QStringLiteral("×"), editors_));
  size->addWidget(height_);
  size->addWidget(new QLabel(QStringLiteral("pixels (even)"), editors_));
  form->addRow(QStringLiteral("Size:"), size);

  auto* rate = new QHBoxLayout;
  rate_numerator_ = NewSpinBox("rateNumerator", 1, 240000, 1, current.frame_rate_numerator, editors_);
  rate_denominator_ = NewSpinBox("rateDenominator", 1, 1000, 1, current.frame_rate_denominator, editors_);
  rate->addWidget(rate_numerator_);
  rate->addWidget(new QLabel(QStringLiteral("/"), editors_));
  rate->addWidget(rate_denominator_);
  rate->addWidget(new QLabel(QStringLiteral("frames a second"), editors_));
  form->addRow(QStringLiteral("Frame rate:"), rate);

  format_ = NewChoiceBox("pixelFormat", kFormats, static_cast<std::int32_t>(current.format), editors_);
  form->addRow(QStringLiteral("Pixel format:"), format_);

  stamping_ = new QCheckBox(QStringLiteral("Stamp each frame with its number"), editors_);
  stamping_->setObjectName(QStringLiteral("stamping"));
  stamping_->setChecked(current.stamping);
  form->addRow(QString(), stamping_);
  layout->addWidget(editors_);

  running_note_ = new QLabel(
      QStringLiteral("The graph is running: the test pattern takes new settings only while it "
                     "is stopped. Stop the graph to change them."),
      page);
  running_note_->setObjectName(QStringLiteral("runningNote"));
  running_note_->setWordWrap(true);
  layout->addWidget(running_note_);

  WatchEdits(pattern_);
  WatchEdits(width_);
  WatchEdits(height_);
  WatchEdits(rate_numerator_);
  WatchEdits(rate_denominator_);
  WatchEdits(format_);
  WatchEdits(stamping_);

  timer_ = new QTimer(page);
  QObject::connect(timer_, &QTimer::timeout, page, [this] { RefreshRunningState(); });
  timer_->start(kRefreshMs);
  RefreshRunningState();
}

void TestPatternPage::RefreshRunningState() {
  if (!editors_) return;
  const bool runs = CameraRuns();
  editors_->setEnabled(!runs);
  running_note_->setVisible(runs);
}

HRESULT TestPatternPage::ApplyChanges() {
  if (!settings_) return E_UNEXPECTED;
  TestPatternSettings wanted;
  wanted.pattern = static_cast<TestPattern>(pattern_->currentData().toInt());
  wanted.width = width_->value();
  wanted.height = height_->value();
  wanted.frame_rate_numerator = rate_numerator_->value();
  wanted.frame_rate_denominator = rate_denominator_->value();
  wanted.format = static_cast<TestPixelFormat>(format_->currentData().toInt());
  wanted.stamping = stamping_->isChecked();
  return settings_->SetSettings(wanted);
}

void TestPatternPage::Unbuild() {
  if (timer_) timer_->stop();
  editors_ = nullptr;
  pattern_ = nullptr;
  width_ = height_ = rate_numerator_ = rate_denominator_ = nullptr;
  format_ = nullptr;
  stamping_ = nullptr;
  running_note_ = nullptr;
  timer_ = nullptr;
}
