#include "filters/network_page_fields.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <optional>

#include "filters/network_interface.h"
#include "filters/property_page_base.h"
#include "filters/udp_socket.h"
#include "platform/com/com.h"

namespace {

constexpr int kRefreshMs = 1000;

struct RoutedInterface {
  QString name;  // empty when no interface has the address
  QString address;
};

// The interface the routing table picks for `address` (network byte order),
// found without sending anything.
std::optional<RoutedInterface> Routed(std::uint32_t address) {
  if (address == 0) return std::nullopt;
  // Connecting a datagram socket only looks the route up; nothing is sent.
  const UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return std::nullopt;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = address;
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    return std::nullopt;
  }
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return std::nullopt;
  }
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &local.sin_addr, dotted, sizeof dotted);

  RoutedInterface routed{QString(), QString::fromLatin1(dotted)};
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
      if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (in->sin_addr.s_addr == local.sin_addr.s_addr) {
        routed.name = QString::fromLocal8Bit(entry->ifa_name);
        break;
      }
    }
    freeifaddrs(list);
  }
  return routed;
}

QString RoutedChoiceText(std::uint32_t address) {
  if (address == 0) return QStringLiteral("Chosen by the routing table (no endpoint yet)");
  const std::optional<RoutedInterface> routed = Routed(address);
  if (!routed) return QStringLiteral("Chosen by the routing table (no route to the group)");
  return routed->name.isEmpty()
             ? QStringLiteral("Chosen by the routing table (now %1)").arg(routed->address)
             : QStringLiteral("Chosen by the routing table (now %1, %2)")
                   .arg(routed->name, routed->address);
}

}  // namespace

EndpointFields AddEndpointFields(QFormLayout* form, QWidget* parent, std::uint32_t address,
                                 std::uint16_t port) {
  EndpointFields fields;
  fields.group = new QLineEdit(parent);
  fields.group->setObjectName(QStringLiteral("group"));
  fields.group->setPlaceholderText(QStringLiteral("none"));
  if (address != 0) fields.group->setText(QString::fromStdString(UdpEndpoint{address, port}.AddressText()));
  fields.port = new QSpinBox(parent);
  fields.port->setObjectName(QStringLiteral("port"));
  fields.port->setRange(0, 65535);
  fields.port->setSpecialValueText(QStringLiteral("none"));
  fields.port->setValue(port);
  form->addRow(QStringLiteral("Group:"), fields.group);
  form->addRow(QStringLiteral("Port:"), fields.port);
  return fields;
}

HRESULT ReadEndpoint(const EndpointFields& fields, std::uint32_t* address, std::uint32_t* port) {
  if (!address || !port) return E_POINTER;
  const QString text = fields.group->text().trimmed();
  const int port_value = fields.port->value();
  if (text.isEmpty() && port_value == 0) {
    *address = 0;
    *port = 0;
    return S_OK;
  }
  in_addr parsed{};
  if (text.isEmpty() || port_value == 0 ||
      inet_pton(AF_INET, text.toLatin1().constData(), &parsed) != 1) {
    return E_INVALIDARG;
  }
  EndpointToArguments(UdpEndpoint{parsed.s_addr, static_cast<std::uint16_t>(port_value)}, address,
                      port);
  return S_OK;
}

QString RoutedInterfaceText(std::uint32_t address) {
  const std::optional<RoutedInterface> routed = Routed(address);
  if (!routed) return {};
  return routed->name.isEmpty() ? routed->address
                                : QStringLiteral("%1 (%2)").arg(routed->name, routed->address);
}

std::vector<GroupInterface> GroupInterfaces() {
  std::vector<GroupInterface> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & (IFF_MULTICAST | IFF_LOOPBACK)) == 0) continue;
    const QString name = QString::fromLocal8Bit(entry->ifa_name);
    // One entry an interface, with its first address.
    if (std::ranges::any_of(found, [&](const GroupInterface& i) { return i.name == name; })) {
      continue;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    found.push_back(
        {name, QString::fromStdString(UdpEndpoint{in->sin_addr.s_addr, 0}.AddressText())});
  }
  freeifaddrs(list);
  return found;
}

QComboBox* AddInterfaceField(QFormLayout* form, QWidget* parent, const QString& label,
                             std::uint32_t address, const QString& current) {
  auto* choice = new QComboBox(parent);
  choice->setObjectName(QStringLiteral("interface"));
  choice->addItem(RoutedChoiceText(address), QString());
  for (const GroupInterface& i : GroupInterfaces()) {
    choice->addItem(QStringLiteral("%1 (%2)").arg(i.name, i.address), i.name);
  }
  if (!current.isEmpty() && choice->findData(current) < 0) choice->addItem(current, current);
  choice->setCurrentIndex(std::max(choice->findData(current), 0));
  form->addRow(label, choice);
  return choice;
}

void ShowRoutedChoice(QComboBox* choice, std::uint32_t address) {
  choice->setItemText(0, RoutedChoiceText(address));
}

QString ChosenInterface(const QComboBox* choice) { return choice->currentData().toString(); }

QString InterfaceOf(INetworkInterface* filter) {
  char* name = nullptr;
  QString text;
  if (filter && SUCCEEDED(filter->GetInterface(&name)) && name) text = QString::fromUtf8(name);
  CoTaskMemFree(name);
  return text;
}

HRESULT ApplyInterface(const QComboBox* choice, INetworkInterface* filter) {
  if (!filter) return E_UNEXPECTED;
  return filter->SetInterface(ChosenInterface(choice).toUtf8().constData());
}

StatisticsBox::StatisticsBox(QWidget* page)
    : box_(new QGroupBox(QStringLiteral("Since the graph started"), page)),
      form_(new QFormLayout(box_)) {}

QLabel* StatisticsBox::Add(const char* name, const char* text) {
  QLabel* label = NewValueLabel(name, box_);
  form_->addRow(QString::fromUtf8(text), label);
  return label;
}

QTimer* StartRefreshing(QWidget* page, std::function<void()> refresh) {
  auto* timer = new QTimer(page);
  QObject::connect(timer, &QTimer::timeout, page, refresh);
  timer->start(kRefreshMs);
  refresh();
  return timer;
}

HRESULT NetworkFilterLink::Attach(IUnknown* object) {
  HRESULT status = object->QueryInterface(INetEndpointConfig::iid, config.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(status)) {
    status = object->QueryInterface(INetworkStatistics::iid, statistics.ReleaseAndGetVoidAddress());
  }
  if (SUCCEEDED(status)) {
    status = object->QueryInterface(INetworkInterface::iid, interface_choice.ReleaseAndGetVoidAddress());
  }
  if (FAILED(status)) Reset();
  return status;
}

void NetworkFilterLink::Reset() {
  config = nullptr;
  statistics = nullptr;
  interface_choice = nullptr;
}

NetworkStatistics NetworkFilterLink::Statistics() const {
  NetworkStatistics s;
  if (statistics) statistics->GetStatistics(&s);
  return s;
}

HRESULT NetworkFilterLink::ApplyEndpointAndInterface(const EndpointFields& endpoint,
                                                     QComboBox* choice,
                                                     std::uint32_t* address) const {
  if (!config) return E_UNEXPECTED;
  std::uint32_t port = 0;
  HRESULT status = ReadEndpoint(endpoint, address, &port);
  if (FAILED(status)) return status;
  status = config->SetEndpoint(*address, port);
  if (FAILED(status)) return status;
  return ApplyInterface(choice, interface_choice.Get());
}
