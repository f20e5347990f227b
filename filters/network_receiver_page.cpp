#include "filters/network_receiver_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

int ReorderWindowOf(std::uint32_t parameter) {
  return static_cast<int>((parameter & net_parameter::kReorderWindowMask) >>
                          net_parameter::kReorderWindowShift);
}

QString ListeningText(const NetworkStatistics& s) {
  if (!s.has_endpoint) return QStringLiteral("No: it has no endpoint");
  if (!s.listening) return QStringLiteral("No (it listens while the graph runs)");
  QString text = QStringLiteral("Yes");
  if (s.receive_buffer_granted != 0 && s.receive_buffer_granted < s.receive_buffer_requested) {
    text += QStringLiteral("; the system gave a receive buffer of %1 KiB of the %2 KiB asked: "
                           "a keyframe burst may be lost")
                .arg(s.receive_buffer_granted / 1024)
                .arg(s.receive_buffer_requested / 1024);
  }
  return text;
}

}  // namespace

NetworkReceiverPage::NetworkReceiverPage() : PropertyPageBase(u"Network Receiver") {}

HRESULT NetworkReceiverPage::Attach(IUnknown* object) { return filter_.Attach(object); }

void NetworkReceiverPage::Detach() { filter_.Reset(); }

NetworkStatistics NetworkReceiverPage::Statistics() const { return filter_.Statistics(); }

void NetworkReceiverPage::Build(QWidget* page, QVBoxLayout* layout) {
  const NetworkStatistics now = Statistics();

  auto* endpoint_box = new QGroupBox(QStringLiteral("Endpoint"), page);
  auto* form = new QFormLayout(endpoint_box);
  endpoint_ = AddEndpointFields(form, endpoint_box, now.address, now.port);
  reorder_window_ = new QSpinBox(endpoint_box);
  reorder_window_->setObjectName(QStringLiteral("reorderWindow"));
  reorder_window_->setRange(0, 255);
  reorder_window_->setSuffix(QStringLiteral(" ms"));
  reorder_window_->setSpecialValueText(QStringLiteral("none: each frame goes on at once"));
  reorder_window_->setValue(ReorderWindowOf(now.parameter));
  form->addRow(QStringLiteral("Reorder window:"), reorder_window_);
  interface_ = AddInterfaceField(form, endpoint_box, QStringLiteral("Joins on:"), now.address,
                                 InterfaceOf(filter_.interface_choice.Get()));
  listening_ = NewValueLabel("listening", endpoint_box);
  listening_->setWordWrap(true);
  form->addRow(QStringLiteral("Listening:"), listening_);
  layout->addWidget(endpoint_box);

  StatisticsBox stats(page);
  const auto add = [&](const char* name, const char* text) { return stats.Add(name, text); };
  running_ = add("running", "Running for:");
  packets_ = add("packets", "Packets:");
  lost_ = add("lost", "Lost:");
  reordered_ = add("reordered", "Reordered:");
  foreign_dropped_ = add("foreignDropped", "Foreign datagrams dropped:");
  bit_rate_ = add("bitRate", "Bit rate:");
  frames_per_second_ = add("framesPerSecond", "Frames a second:");
  jitter_ = add("jitter", "Interarrival jitter:");
  last_packet_ = add("lastPacket", "Since the last packet:");
  skipped_ = add("framesSkipped", "Frames skipped (torn or before a keyframe):");
  layout->addWidget(stats.Box());

  WatchEdits(endpoint_.group);
  WatchEdits(endpoint_.port);
  WatchEdits(interface_);
  WatchEdits(reorder_window_);

  timer_ = StartRefreshing(page, [this] { Refresh(); });
}

void NetworkReceiverPage::Refresh() {
  if (!packets_) return;
  const NetworkStatistics s = Statistics();
  listening_->setText(ListeningText(s));
  running_->setText(DurationText(s.seconds_running));
  packets_->setText(CountText(s.packets));
  lost_->setText(CountText(s.lost));
  reordered_->setText(CountText(s.reordered));
  foreign_dropped_->setText(CountText(s.foreign_dropped));
  bit_rate_->setText(BitRateText(s.bit_rate));
  frames_per_second_->setText(QString::number(s.frames_per_second, 'f', 1));
  jitter_->setText(QStringLiteral("%1 ms").arg(s.jitter_ms, 0, 'f', 2));
  last_packet_->setText(s.seconds_since_last_packet < 0 ? QStringLiteral("— (none yet)")
                                                        : DurationText(s.seconds_since_last_packet));
  skipped_->setText(CountText(s.frames_skipped));
}

HRESULT NetworkReceiverPage::ApplyChanges() {
  std::uint32_t address = 0;
  HRESULT status = filter_.ApplyEndpointAndInterface(endpoint_, interface_, &address);
  if (FAILED(status)) return status;
  // The sender's bits ride along unchanged.
  std::uint32_t parameter = Statistics().parameter & ~net_parameter::kReorderWindowMask;
  parameter |= (static_cast<std::uint32_t>(reorder_window_->value())
                << net_parameter::kReorderWindowShift) &
               net_parameter::kReorderWindowMask;
  status = filter_.config->SetParameter(parameter);
  if (FAILED(status)) return status;
  ShowRoutedChoice(interface_, address);
  Refresh();
  return S_OK;
}

void NetworkReceiverPage::Unbuild() {
  if (timer_) timer_->stop();
  endpoint_ = {};
  reorder_window_ = nullptr;
  interface_ = nullptr;
  listening_ = running_ = packets_ = lost_ = reordered_ = foreign_dropped_ = nullptr;
  bit_rate_ = frames_per_second_ = jitter_ = last_packet_ = skipped_ = nullptr;
  timer_ = nullptr;
}
