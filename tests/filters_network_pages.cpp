#include "filters/network_receiver_page.h"
#include "filters/network_sender_page.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <cstring>

#include "filters/filter_classes.h"
#include "filters/network_interface.h"
#include "filters/network_receiver.h"
#include "filters/network_sender.h"
#include "filters/property_pages.h"
#include "property_page_testing.h"

// The network sender's and receiver's pages over the real filters, stopped:
// nothing is sent here. Their live statistics while a stream flows are shown in
// netns_config_dialogs.cpp, inside the private network namespace.

namespace {

std::uint32_t PortArgument(std::uint16_t port) { return std::uint32_t{htons(port)}; }

struct Endpoint {
  std::uint32_t address = 0;
  std::uint32_t port = 0;
  friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

Endpoint EndpointOf(INetEndpointConfig* config) {
  Endpoint e;
  config->GetEndpoint(&e.address, &e.port);
  return e;
}

NetworkStatistics StatisticsOf(IUnknown* filter) {
  ComPtr<INetworkStatistics> statistics;
  EXPECT_EQ(filter->QueryInterface(INetworkStatistics::iid, statistics.ReleaseAndGetVoidAddress()), S_OK);
  NetworkStatistics s;
  statistics->GetStatistics(&s);
  return s;
}

class NetworkPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
    memory_at_start_ = CoTaskMemOutstanding();
    sender_ = MakeComObject<NetworkSender>();
    receiver_ = MakeComObject<NetworkReceiver>();
  }
  void TearDown() override {
    sender_ = nullptr;
    receiver_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    EXPECT_EQ(CoTaskMemOutstanding(), memory_at_start_);
    CoUninitialize();
  }

  ComPtr<NetworkSender> sender_;
  ComPtr<NetworkReceiver> receiver_;
  long live_at_start_ = 0;
  long memory_at_start_ = 0;
};

TEST_F(NetworkPagesTest, EachFilterNamesItsPage) {
  for (const auto& [filter, page] :
       {std::pair<IUnknown*, CLSID>{static_cast<IBaseFilter*>(sender_.Get()), CLSID_NetworkSenderPage},
        std::pair<IUnknown*, CLSID>{static_cast<IBaseFilter*>(receiver_.Get()), CLSID_NetworkReceiverPage}}) {
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(filter->QueryInterface(ISpecifyPropertyPages::iid, specify.ReleaseAndGetVoidAddress()), S_OK);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_EQ(pages.pElems[0], page);
    CoTaskMemFree(pages.pElems);
  }
}

TEST_F(NetworkPagesTest, SenderPageShowsEndpointTimeToLiveLoopbackAndRoute) {
  ASSERT_EQ(sender_->SetEndpoint(inet_addr("127.0.0.1"), PortArgument(9000)), S_OK);
  ASSERT_EQ(sender_->SetParameter(5 | net_parameter::kLoopbackOff), S_OK);
  ActivePage page(CLSID_NetworkSenderPage, static_cast<IBaseFilter*>(sender_.Get()));
  EXPECT_EQ(TitleOf(page.operator->()), u"Network Sender");
  EXPECT_EQ(page.Find<QLineEdit>("group")->text(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(page.Find<QSpinBox>("port")->value(), 9000);
  EXPECT_EQ(page.Find<QSpinBox>("ttl")->value(), 5);
  EXPECT_FALSE(page.Find<QCheckBox>("loopback")->isChecked());
  auto* choice = page.Find<QComboBox>("interface");
  EXPECT_EQ(choice->currentIndex(), 0);
  EXPECT_EQ(choice->itemText(0), QStringLiteral("Chosen by the routing table (now lo, 127.0.0.1)"));
  EXPECT_EQ(page.Find<QLabel>("packets")->text(), QStringLiteral("0"));
  EXPECT_TRUE(page.Find<QPlainTextEdit>("sdp")->isReadOnly());
  EXPECT_TRUE(page.Find<QPlainTextEdit>("sdp")->toPlainText().startsWith(QStringLiteral("Nothing is published")));
  EXPECT_FALSE(page.Dirty());
}

TEST_F(NetworkPagesTest, SenderPageHandsOverWhatSetEndpointAndSetParameterTake) {
  // The receiver's reorder window in the same parameter rides along.
  ASSERT_EQ(sender_->SetParameter(7u << net_parameter::kReorderWindowShift), S_OK);
  ActivePage page(CLSID_NetworkSenderPage, static_cast<IBaseFilter*>(sender_.Get()));
  page.Find<QLineEdit>("group")->setText(QStringLiteral("235.1.2.9"));
  page.Find<QSpinBox>("port")->setValue(9100);
  page.Find<QSpinBox>("ttl")->setValue(3);
  page.Find<QCheckBox>("loopback")->setChecked(false);
  ASSERT_TRUE(page.Dirty());
  ASSERT_EQ(page->Apply(), S_OK);

  const Endpoint endpoint = EndpointOf(sender_.Get());
  EXPECT_EQ(endpoint.address, inet_addr("235.1.2.9"));
  std::uint8_t port_bytes[4];
  std::memcpy(port_bytes, &endpoint.port, 4);
  EXPECT_EQ(port_bytes[0], 9100 >> 8);
  EXPECT_EQ(port_bytes[1], 9100 & 0xFF);
  EXPECT_EQ(port_bytes[2], 0);
  EXPECT_EQ(port_bytes[3], 0);
  EXPECT_EQ(StatisticsOf(static_cast<IBaseFilter*>(sender_.Get())).parameter,
            3u | net_parameter::kLoopbackOff | (7u << net_parameter::kReorderWindowShift));
  EXPECT_FALSE(page.Dirty());
}

struct EndpointCase {
  const char* name;
  const char* group;
  int port;
  HRESULT status;
  Endpoint taken;  // what the filter holds afterwards
};

class EndpointEditTest : public NetworkPagesTest, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(EndpointEditTest, BothPagesTakeOnlyWholeEndpoints) {
  const Endpoint before{inet_addr("235.1.2.3"), PortArgument(9000)};
  for (const auto& [config, clsid] :
       {std::pair<INetEndpointConfig*, CLSID>{sender_.Get(), CLSID_NetworkSenderPage},
        std::pair<INetEndpointConfig*, CLSID>{receiver_.Get(), CLSID_NetworkReceiverPage}}) {
    ASSERT_EQ(config->SetEndpoint(before.address, before.port), S_OK);
    ActivePage page(clsid, config);
    page.Find<QLineEdit>("group")->setText(QString::fromLatin1(GetParam().group));
    page.Find<QSpinBox>("port")->setValue(GetParam().port);
    EXPECT_EQ(page->Apply(), GetParam().status);
    const Endpoint expected = SUCCEEDED(GetParam().status) ? GetParam().taken : before;
    EXPECT_EQ(EndpointOf(config), expected);
    EXPECT_EQ(page.Dirty(), FAILED(GetParam().status));
    EXPECT_EQ(page.Find<QLabel>("status")->isHidden(), SUCCEEDED(GetParam().status));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EndpointEditTest,
    ::testing::Values(
        EndpointCase{"OtherGroup", "235.7.7.7", 9002, S_OK, {inet_addr("235.7.7.7"), PortArgument(9002)}},
        EndpointCase{"NoneAtAll", "", 0, S_OK, {0, 0}},
        EndpointCase{"ShortAddress", "235.1.2", 9000, E_INVALIDARG, {}},
        EndpointCase{"Name", "group.example", 9000, E_INVALIDARG, {}},
        EndpointCase{"NoPort", "235.1.2.3", 0, E_INVALIDARG, {}},
        EndpointCase{"NoGroup", "", 9000, E_INVALIDARG, {}},
        EndpointCase{"Broadcast", "255.255.255.255", 9000, E_INVALIDARG, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkPagesTest, ReceiverPageShowsAndSetsTheReorderWindow) {
  ASSERT_EQ(receiver_->SetEndpoint(inet_addr("235.1.2.3"), PortArgument(9000)), S_OK);
  ASSERT_EQ(receiver_->SetParameter(4 | (12u << net_parameter::kReorderWindowShift)), S_OK);
  ActivePage page(CLSID_NetworkReceiverPage, static_cast<IBaseFilter*>(receiver_.Get()));
  EXPECT_EQ(TitleOf(page.operator->()), u"Network Receiver");
  EXPECT_EQ(page.Find<QLineEdit>("group")->text(), QStringLiteral("235.1.2.3"));
  EXPECT_EQ(page.Find<QSpinBox>("port")->value(), 9000);
  auto* window = page.Find<QSpinBox>("reorderWindow");
  EXPECT_EQ(window->value(), 12);
  EXPECT_TRUE(page.Find<QLabel>("listening")->text().startsWith(QStringLiteral("No")));
  for (const char* name : {"packets", "lost", "reordered", "foreignDropped"}) {
    EXPECT_EQ(page.Find<QLabel>(name)->text(), QStringLiteral("0")) << name;
  }
  EXPECT_EQ(page.Find<QLabel>("lastPacket")->text(), QStringLiteral("— (none yet)"));

  window->setValue(40);
  ASSERT_EQ(page->Apply(), S_OK);
  // The sender's time-to-live bits ride along.
  EXPECT_EQ(StatisticsOf(static_cast<IBaseFilter*>(receiver_.Get())).parameter,
            4u | (40u << net_parameter::kReorderWindowShift));
}

std::string HeldInterface(INetworkInterface* filter) {
  char* name = nullptr;
  filter->GetInterface(&name);
  std::string text = name ? name : "(null)";
  CoTaskMemFree(name);
  return text;
}

TEST_F(NetworkPagesTest, BothPagesOfferTheMachinesInterfacesAndHandTheChoiceOver) {
  for (const auto& [filter, clsid] :
       {std::pair<INetworkInterface*, CLSID>{sender_.Get(), CLSID_NetworkSenderPage},
        std::pair<INetworkInterface*, CLSID>{receiver_.Get(), CLSID_NetworkReceiverPage}}) {
    {
      ActivePage page(clsid, filter);
      auto* choice = page.Find<QComboBox>("interface");
      ASSERT_TRUE(choice);
      EXPECT_EQ(choice->itemText(0),
                QStringLiteral("Chosen by the routing table (no endpoint yet)"));
      EXPECT_EQ(choice->currentIndex(), 0) << "the routing table's choice until told otherwise";
      const int loopback = choice->findData(QStringLiteral("lo"));
      ASSERT_GT(loopback, 0) << "loopback is listed after the routing table's choice";
      EXPECT_EQ(choice->itemText(loopback), QStringLiteral("lo (127.0.0.1)"));
      for (const GroupInterface& i : GroupInterfaces()) {
        EXPECT_GT(choice->findData(i.name), 0) << i.name.toStdString();
      }

      choice->setCurrentIndex(loopback);
      ASSERT_TRUE(page.Dirty());
      EXPECT_EQ(HeldInterface(filter), "") << "nothing changes before Apply";
      ASSERT_EQ(page->Apply(), S_OK);
      EXPECT_EQ(HeldInterface(filter), "lo");
      EXPECT_FALSE(page.Dirty());
    }
    {
      // Opened again, the page shows what the filter holds; the routing table's
      // choice goes back the same way.
      ActivePage page(clsid, filter);
      auto* choice = page.Find<QComboBox>("interface");
      ASSERT_TRUE(choice);
      EXPECT_EQ(choice->currentData().toString(), QStringLiteral("lo"));
      choice->setCurrentIndex(0);
      ASSERT_EQ(page->Apply(), S_OK);
      EXPECT_EQ(HeldInterface(filter), "");
    }
  }
}

TEST_F(NetworkPagesTest, RoutedChoiceFollowsTheAppliedEndpoint) {
  ActivePage page(CLSID_NetworkReceiverPage, static_cast<IBaseFilter*>(receiver_.Get()));
  auto* choice = page.Find<QComboBox>("interface");
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->itemText(0), QStringLiteral("Chosen by the routing table (no endpoint yet)"));
  page.Find<QLineEdit>("group")->setText(QStringLiteral("127.0.0.1"));
  page.Find<QSpinBox>("port")->setValue(9000);
  ASSERT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(choice->itemText(0), QStringLiteral("Chosen by the routing table (now lo, 127.0.0.1)"));
}

TEST(GroupInterfaces, ListLoopbackOnceWithItsAddress) {
  int loopbacks = 0;
  for (const GroupInterface& i : GroupInterfaces()) {
    EXPECT_FALSE(i.address.isEmpty()) << i.name.toStdString();
    if (i.name == QStringLiteral("lo")) {
      ++loopbacks;
      EXPECT_EQ(i.address, QStringLiteral("127.0.0.1"));
    }
  }
  EXPECT_EQ(loopbacks, 1);
}

TEST_F(NetworkPagesTest, PagesRefuseAFilterWithoutAnEndpoint) {
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(CoCreateInstance(CLSID_TestPatternCamera, &camera), S_OK);
  for (const CLSID& clsid : {CLSID_NetworkSenderPage, CLSID_NetworkReceiverPage}) {
    ActivePage page(clsid, camera.Get());
    EXPECT_EQ(page.SetObjectsStatus(), E_NOINTERFACE);
  }
}

TEST(RoutedInterface, LoopbackIsNamedWithItsAddress) {
  EXPECT_EQ(RoutedInterfaceText(inet_addr("127.0.0.1")), QStringLiteral("lo (127.0.0.1)"));
  EXPECT_EQ(RoutedInterfaceText(0), QString());
}

}  // namespace
