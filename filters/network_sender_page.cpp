#include "filters/network_sender_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

int TtlOf(std::uint32_t parameter) {
  const int ttl = static_cast<int>(parameter & net_parameter::kTtlMask);
  return ttl == 0 ? 1 : ttl;
}

}  // namespace

NetworkSenderPage::NetworkSenderPage() : PropertyPageBase(u"Network Sender") {}

HRESULT NetworkSenderPage::Attach(IUnknown* object) {
  const HRESULT status = filter_.Attach(object);
  if (FAILED(status)) {
    Detach();
    return status;
  }
  object->QueryInterface(IStreamDescription::iid, description_.ReleaseAndGetVoidAddress());
  return S_OK;
}

void NetworkSenderPage::Detach() {
  filter_.Reset();
  description_ = nullptr;
}

NetworkStatistics NetworkSenderPage::Statistics() const { return filter_.Statistics(); }

void NetworkSenderPage::Build(QWidget* page, QVBoxLayout* layout) {
  const NetworkStatistics now = Statistics();

  auto* endpoint_box = new QGroupBox(QStringLiteral("Endpoint"), page);
  auto* form = new QFormLayout(endpoint_box);
  endpoint_ = AddEndpointFields(form, endpoint_box, now.address, now.port);
  ttl_ = new QSpinBox(endpoint_box);
  ttl_->setObjectName(QStringLiteral("ttl"));
  ttl_->setRange(1, 255);
  ttl_->setValue(TtlOf(now.parameter));
  form->addRow(QStringLiteral("Time to live:"), ttl_);
  loopback_ = new QCheckBox(QStringLiteral("Deliver to receivers on this machine too (loopback)"),
                            endpoint_box);
  loopback_->setObjectName(QStringLiteral("loopback"));
  loopback_->setChecked((now.parameter & net_parameter::kLoopbackOff) == 0);
  form->addRow(QString(), loopback_);
  interface_ = AddInterfaceField(form, endpoint_box, QStringLiteral("Interface:"), now.address,
                                 InterfaceOf(filter_.interface_choice.Get()));
  layout->addWidget(endpoint_box);

  auto* sdp_box = new QGroupBox(QStringLiteral("Session description it publishes (SDP)"), page);
  auto* sdp_layout = new QVBoxLayout(sdp_box);
  sdp_ = new QPlainTextEdit(sdp_box);
  sdp_->setObjectName(QStringLiteral("sdp"));
  sdp_->setReadOnly(true);
  sdp_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  sdp_->setLineWrapMode(QPlainTextEdit::NoWrap);
  sdp_->setMinimumHeight(120);
  sdp_layout->addWidget(sdp_);
  layout->addWidget(sdp_box);

  StatisticsBox stats(page);
  const auto add = [&](const char* name, const char* text) { return stats.Add(name, text); };
  running_ = add("running", "Running for:");
  packets_ = add("packets", "Packets:");
  bytes_ = add("bytes", "Bytes:");
  bit_rate_ = add("bitRate", "Bit rate:");
  frames_per_second_ = add("framesPerSecond", "Frames a second:");
  keyframes_ = add("keyframes", "Keyframes:");
  send_errors_ = add("sendErrors", "Refused by the system:");
  layout->addWidget(stats.Box());

  WatchEdits(endpoint_.group);
  WatchEdits(endpoint_.port);
  WatchEdits(interface_);
  WatchEdits(ttl_);
  WatchEdits(loopback_);

  timer_ = StartRefreshing(page, [this] { Refresh(); });
}

void NetworkSenderPage::Refresh() {
  if (!packets_) return;
  const NetworkStatistics s = Statistics();
  running_->setText(DurationText(s.seconds_running));
  packets_->setText(CountText(s.packets));
  bytes_->setText(CountText(s.bytes));
  bit_rate_->setText(BitRateText(s.bit_rate));
  frames_per_second_->setText(QString::number(s.frames_per_second, 'f', 1));
  keyframes_->setText(CountText(s.keyframes));
  send_errors_->setText(CountText(s.send_errors));

  QString text;
  char* published = nullptr;
  if (description_ && description_->GetDescription(&published) == S_OK && published) {
    text = QString::fromUtf8(published);
  }
  CoTaskMemFree(published);
  if (text.isEmpty()) {
    text = QStringLiteral("Nothing is published yet: the sender publishes its stream's description "
                          "once it has an endpoint and has seen the stream's configuration.");
  }
  // Rewriting the same text would lose the user's selection.
  if (sdp_->toPlainText() != text) sdp_->setPlainText(text);
}

HRESULT NetworkSenderPage::ApplyChanges() {
  std::uint32_t address = 0;
  HRESULT status = filter_.ApplyEndpointAndInterface(endpoint_, interface_, &address);
  if (FAILED(status)) return status;
  // The receiver's bits ride along unchanged.
  std::uint32_t parameter = Statistics().parameter & ~(net_parameter::kTtlMask | net_parameter::kLoopbackOff);
  parameter |= static_cast<std::uint32_t>(ttl_->value()) & net_parameter::kTtlMask;
  if (!loopback_->isChecked()) parameter |= net_parameter::kLoopbackOff;
  status = filter_.config->SetParameter(parameter);
  if (FAILED(status)) return status;
  ShowRoutedChoice(interface_, address);
  Refresh();
  return S_OK;
}

void NetworkSenderPage::Unbuild() {
  if (timer_) timer_->stop();
  endpoint_ = {};
  ttl_ = nullptr;
  loopback_ = nullptr;
  interface_ = nullptr;
  sdp_ = nullptr;
  running_ = packets_ = bytes_ = bit_rate_ = frames_per_second_ = keyframes_ = send_errors_ = nullptr;
  timer_ = nullptr;
}
