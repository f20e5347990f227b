#pragma once

#include "filters/network_interface.h"
#include "filters/network_page_fields.h"
#include "filters/network_statistics.h"
#include "filters/property_page_base.h"
#include "filters/stream_description.h"
#include "net/net_endpoint_config.h"

class QCheckBox;
class QPlainTextEdit;
class QComboBox;
class QTimer;

// The network sender's page: its endpoint (group and port, as SetEndpoint takes
// them), the multicast time-to-live and loopback (SetParameter's bits), the
// interface it sends the group on (INetworkInterface: the routing table's
// choice, or one of the machine's), the SDP it publishes, and its live statistics since the graph
// started, read once a second.
class NetworkSenderPage : public PropertyPageBase {
 public:
  NetworkSenderPage();

  // Reads the statistics and the published description now (the page does so
  // every second while it is active).
  void Refresh();

 private:
  HRESULT Attach(IUnknown* object) override;
  void Detach() override;
  void Build(QWidget* page, QVBoxLayout* layout) override;
  HRESULT ApplyChanges() override;
  void Unbuild() override;

  NetworkStatistics Statistics() const;

  NetworkFilterLink filter_;
  ComPtr<IStreamDescription> description_;  // may be empty

  // Owned by the page widget.
  EndpointFields endpoint_;
  QSpinBox* ttl_ = nullptr;
  QCheckBox* loopback_ = nullptr;
  QComboBox* interface_ = nullptr;
  QPlainTextEdit* sdp_ = nullptr;
  QLabel* running_ = nullptr;
  QLabel* packets_ = nullptr;
  QLabel* bytes_ = nullptr;
  QLabel* bit_rate_ = nullptr;
  QLabel* frames_per_second_ = nullptr;
  QLabel* keyframes_ = nullptr;
  QLabel* send_errors_ = nullptr;
  QTimer* timer_ = nullptr;
};
