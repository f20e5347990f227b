#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "filters/network_interface.h"
#include "filters/network_statistics.h"
#include "net/net_endpoint_config.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

struct INetworkInterface;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;
class QSpinBox;
class QWidget;

// What the network sender's and receiver's pages share: the endpoint editors and
// the choice of the interface for a group.

struct EndpointFields {
  QLineEdit* group = nullptr;  // dotted IPv4; empty: no endpoint
  QSpinBox* port = nullptr;    // 0: no endpoint
};

// Adds "Group" and "Port" rows showing the endpoint as INetEndpointConfig hands
// it over (`address` in network byte order, `port` in host order; zeros: none).
EndpointFields AddEndpointFields(QFormLayout* form, QWidget* parent, std::uint32_t address,
                                 std::uint16_t port);

// The edited endpoint as SetEndpoint takes it: the address in network byte order
// and the port's two bytes in network order followed by two zero bytes. An empty
// group with port 0 is (0, 0), no endpoint. E_INVALIDARG for text that is not an
// IPv4 address, or only one half given.
HRESULT ReadEndpoint(const EndpointFields& fields, std::uint32_t* address, std::uint32_t* port);

// "lo (127.0.0.1)": the interface the routing table picks for `address` (network
// byte order), found without sending anything. Empty when there is no route.
QString RoutedInterfaceText(std::uint32_t address);

// An interface a group can be sent or joined on.
struct GroupInterface {
  QString name;     // "eth0"
  QString address;  // its first IPv4 address, dotted
};

// The machine's interfaces that have an IPv4 address and carry multicast, and
// loopback whether or not it is marked for multicast (programs on this machine
// meet there), in the system's order.
std::vector<GroupInterface> GroupInterfaces();

// Adds a row `label` with a choice named "interface": first the interface the
// routing table picks for `address` (its item's name is empty), then each of
// GroupInterfaces(). `current` is selected (an interface not in the list, such as
// one without IPv4, is added for it).
QComboBox* AddInterfaceField(QFormLayout* form, QWidget* parent, const QString& label,
                             std::uint32_t address, const QString& current);
// Updates the first item for `address`, as the endpoint changes.
void ShowRoutedChoice(QComboBox* choice, std::uint32_t address);
// The selected interface's name as SetInterface takes it; empty: the routing table's.
QString ChosenInterface(const QComboBox* choice);
// The interface `filter` holds now; empty: the routing table's choice.
QString InterfaceOf(INetworkInterface* filter);
// Hands the chosen interface to `filter`.
HRESULT ApplyInterface(const QComboBox* choice, INetworkInterface* filter);

// The "Since the graph started" box of the statistics both pages show.
class StatisticsBox {
 public:
  explicit StatisticsBox(QWidget* page);
  // A row with `text` and a value label named `name` (tests find it by that name).
  QLabel* Add(const char* name, const char* text);
  QGroupBox* Box() const { return box_; }

 private:
  QGroupBox* box_;
  QFormLayout* form_;
};

// Calls `refresh` now and then about once a second while `page` lives; the
// timer belongs to the page.
QTimer* StartRefreshing(QWidget* page, std::function<void()> refresh);

// The three interfaces both pages need of their filter: the endpoint, the live
// statistics and the interface choice.
struct NetworkFilterLink {
  ComPtr<INetEndpointConfig> config;
  ComPtr<INetworkStatistics> statistics;
  ComPtr<INetworkInterface> interface_choice;

  // Takes all three from `object`, or none (the first failing status).
  HRESULT Attach(IUnknown* object);
  void Reset();
  // Zeros when the filter is not attached.
  NetworkStatistics Statistics() const;
  // Hands the edited endpoint and then the chosen interface to the filter;
  // *address is the endpoint's group as SetEndpoint took it.
  HRESULT ApplyEndpointAndInterface(const EndpointFields& endpoint, QComboBox* choice,
                                    std::uint32_t* address) const;
};
