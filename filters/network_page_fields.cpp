#include "filters/network_page_fields.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include "filters/property_page_base.h"
#include "filters/udp_socket.h"

namespace {
constexpr int kRefreshMs = 1000;
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
  if (address == 0) return {};
  // Connecting a datagram socket only looks the route up; nothing is sent.
  const UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return {};
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = address;
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return {};
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) return {};
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &local.sin_addr, dotted, sizeof dotted);

  QString name;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
      if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (in->sin_addr.s_addr == local.sin_addr.s_addr) {
        name = QString::fromLocal8Bit(entry->ifa_name);
        break;
      }
    }
    freeifaddrs(list);
  }
  const QString where = QString::fromLatin1(dotted);
  return name.isEmpty() ? where : QStringLiteral("%1 (%2)").arg(name, where);
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
