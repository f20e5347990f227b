#pragma once

#include "filters/network_interface.h"
#include "filters/network_page_fields.h"
#include "filters/network_statistics.h"
#include "filters/property_page_base.h"
#include "net/net_endpoint_config.h"

class QComboBox;
class QTimer;

// The network receiver's page: its endpoint (group and port, as SetEndpoint
// takes them), the reorder window (SetParameter's bits 8-15), the interface it
// joins the group on (INetworkInterface: the routing table's choice, or one of
// the machine's), and its live statistics
// since the graph started, read once a second.
class NetworkReceiverPage : public PropertyPageBase {
 public:
  NetworkReceiverPage();

  // Reads the statistics now (the page does so every second while it is active).
  void Refresh();

 private:
  HRESULT Attach(IUnknown* object) override;
  void Detach() override;
  void Build(QWidget* page, QVBoxLayout* layout) override;
  HRESULT ApplyChanges() override;
  void Unbuild() override;

  NetworkStatistics Statistics() const;

  NetworkFilterLink filter_;

  // Owned by the page widget.
  EndpointFields endpoint_;
  QSpinBox* reorder_window_ = nullptr;
  QComboBox* interface_ = nullptr;
  QLabel* listening_ = nullptr;
  QLabel* running_ = nullptr;
  QLabel* packets_ = nullptr;
  QLabel* lost_ = nullptr;
  QLabel* reordered_ = nullptr;
  QLabel* foreign_dropped_ = nullptr;
  QLabel* bit_rate_ = nullptr;
  QLabel* frames_per_second_ = nullptr;
  QLabel* jitter_ = nullptr;
  QLabel* last_packet_ = nullptr;
  QLabel* skipped_ = nullptr;
  QTimer* timer_ = nullptr;
};
