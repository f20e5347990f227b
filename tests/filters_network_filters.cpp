#include "filters/network_filters.h"

#include <arpa/inet.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filter_pipeline.h"
#include "filters/filter_classes.h"
#include "filters/network_interface.h"
#include "filters/network_receiver.h"
#include "filters/network_sender.h"
#include "filters/network_statistics.h"
#include "net/endpoint.h"
#include "net/net_endpoint_config.h"
#include "platform/com/com.h"
#include "platform/dshow/gst_filter.h"

// The network filters without a network: their configuration interface, pins,
// registration, and running with no endpoint. What they send and receive is
// shown in netns_network.cpp, inside a private network namespace.

namespace {

struct FilterClass {
  const char* name;
  CLSID clsid;
  const char* friendly_name;
};

const FilterClass kClasses[] = {
    {"sender", CLSID_NetworkSender, "Network Sender"},
    {"receiver", CLSID_NetworkReceiver, "Network Receiver"},
};

class NetworkFilters : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGStreamer();
    RegisterNetworkClasses();
    objects_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(ComLiveObjectCount(), objects_at_start_); }

  static ComPtr<IBaseFilter> Create(REFCLSID clsid) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(clsid, &filter), S_OK);
    return filter;
  }

  long objects_at_start_ = 0;
};

std::vector<std::uint8_t> MemoryBytes(std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

NetworkStatistics StatisticsOf(IBaseFilter* filter) {
  ComPtr<INetworkStatistics> statistics;
  EXPECT_EQ(ComPtr<IBaseFilter>(filter).As(&statistics), S_OK);
  NetworkStatistics s;
  EXPECT_EQ(statistics->GetStatistics(&s), S_OK);
  return s;
}

TEST_F(NetworkFilters, AreRegisteredUnderTheirNames) {
  const std::vector<ClassInfo> registered = RegisteredClasses();
  for (const FilterClass& c : kClasses) {
    bool found = false;
    for (const ClassInfo& info : registered) {
      if (info.clsid == c.clsid) {
        found = true;
        EXPECT_EQ(info.friendly_name, c.friendly_name);
      }
    }
    EXPECT_TRUE(found) << c.name;
    ComPtr<IBaseFilter> filter = Create(c.clsid);
    ASSERT_TRUE(filter) << c.name;
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, c.clsid) << c.name;
  }
}

TEST_F(NetworkFilters, UnderstandEndpointArgumentsAsTheProgramLaysThemOut) {
  const std::uint32_t address = inet_addr(net::kGroupAddress);
  const std::uint32_t port = std::uint32_t(htons(net::kPort));
  // What the program hands over, byte for byte.
  ASSERT_EQ(MemoryBytes(address), (std::vector<std::uint8_t>{0xEB, 0x01, 0x02, 0x03}));
  ASSERT_EQ(MemoryBytes(port), (std::vector<std::uint8_t>{0x23, 0x28, 0x00, 0x00}));

  for (const FilterClass& c : kClasses) {
    ComPtr<IBaseFilter> filter = Create(c.clsid);
    ComPtr<INetEndpointConfig> config;
    ASSERT_EQ(filter.As(&config), S_OK) << c.name;
    EXPECT_EQ(config->SetEndpoint(address, port), S_OK) << c.name;
    EXPECT_EQ(config->SetParameter(0), S_OK) << c.name;

    std::uint32_t got_address = 0;
    std::uint32_t got_port = 0;
    EXPECT_EQ(config->GetEndpoint(&got_address, &got_port), S_OK) << c.name;
    EXPECT_EQ(MemoryBytes(got_address), MemoryBytes(address)) << c.name;
    EXPECT_EQ(MemoryBytes(got_port), MemoryBytes(port)) << c.name;

    // Understood as 235.1.2.3, port 9000.
    const NetworkStatistics s = StatisticsOf(filter.Get());
    EXPECT_TRUE(s.has_endpoint) << c.name;
    in_addr in{};
    in.s_addr = s.address;
    EXPECT_STREQ(inet_ntoa(in), "235.1.2.3") << c.name;
    EXPECT_EQ(s.port, 9000) << c.name;
    EXPECT_EQ(s.parameter, 0u) << c.name;
  }
}

TEST_F(NetworkFilters, HaveNoEndpointUntilGivenOneAndRefuseBadOnes) {
  struct Bad {
    const char* what;
    std::uint32_t address;
    std::uint32_t port;
  } bad[] = {
      {"zero port", inet_addr("235.1.2.3"), 0},
      {"zero address", 0, std::uint32_t(htons(9000))},
      {"inet_addr's failure value", inet_addr("not an address"), std::uint32_t(htons(9000))},
  };
  for (const FilterClass& c : kClasses) {
    ComPtr<IBaseFilter> filter = Create(c.clsid);
    ComPtr<INetEndpointConfig> config;
    ASSERT_EQ(filter.As(&config), S_OK);
    std::uint32_t address = 1;
    std::uint32_t port = 1;
    EXPECT_EQ(config->GetEndpoint(&address, &port), S_FALSE) << c.name;
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(port, 0u);
    EXPECT_EQ(config->GetEndpoint(nullptr, &port), E_POINTER);

    const std::uint32_t group = inet_addr("235.1.2.3");
    const std::uint32_t good_port = std::uint32_t(htons(9000));
    ASSERT_EQ(config->SetEndpoint(group, good_port), S_OK);
    for (const Bad& b : bad) {
      EXPECT_EQ(config->SetEndpoint(b.address, b.port), E_INVALIDARG) << c.name << ": " << b.what;
      EXPECT_EQ(config->GetEndpoint(&address, &port), S_OK) << "the old endpoint stays";
      EXPECT_EQ(address, group);
      EXPECT_EQ(port, good_port);
    }
    EXPECT_EQ(config->SetEndpoint(0, 0), S_OK) << "forgets the endpoint";
    EXPECT_EQ(config->GetEndpoint(&address, &port), S_FALSE) << c.name;
    EXPECT_FALSE(StatisticsOf(filter.Get()).has_endpoint);
  }
}

TEST_F(NetworkFilters, KeepTheParameter) {
  for (const FilterClass& c : kClasses) {
    ComPtr<IBaseFilter> filter = Create(c.clsid);
    ComPtr<INetEndpointConfig> config;
    ASSERT_EQ(filter.As(&config), S_OK);
    const std::uint32_t value = 4 | (20u << net_parameter::kReorderWindowShift);
    EXPECT_EQ(config->SetParameter(value), S_OK);
    EXPECT_EQ(StatisticsOf(filter.Get()).parameter, value) << c.name;
  }
}

// What GetInterface hands out, and its answer.
std::pair<HRESULT, std::string> InterfaceOf(INetworkInterface* filter) {
  char* name = nullptr;
  const HRESULT status = filter->GetInterface(&name);
  std::string text = name ? name : "(null)";
  CoTaskMemFree(name);
  return {status, text};
}

TEST_F(NetworkFilters, TakeOnlyInterfacesTheMachineHas) {
  struct Case {
    const char* name;        // handed to SetInterface
    HRESULT status;
    const char* held;        // what GetInterface gives afterwards
    HRESULT held_status;
  } cases[] = {
      {"lo", S_OK, "lo", S_OK},
      {"no-such-if9", E_INVALIDARG, "lo", S_OK},         // unknown: nothing changes
      {"lo-but-far-too-long", E_INVALIDARG, "lo", S_OK},  // longer than any name can be
      {"", S_OK, "", S_FALSE},                            // the routing table chooses
      {"lo", S_OK, "lo", S_OK},
      {nullptr, S_OK, "", S_FALSE},
      {"no-such-if9", E_INVALIDARG, "", S_FALSE},
  };
  for (const FilterClass& c : kClasses) {
    ComPtr<IBaseFilter> filter = Create(c.clsid);
    ComPtr<INetworkInterface> choice;
    ASSERT_EQ(filter.As(&choice), S_OK) << c.name;
    EXPECT_EQ(InterfaceOf(choice.Get()), std::make_pair(S_FALSE, std::string()))
        << c.name << ": the routing table chooses until told otherwise";
    EXPECT_EQ(choice->GetInterface(nullptr), E_POINTER);
    for (const Case& k : cases) {
      const std::string handed = k.name ? k.name : "(null)";
      EXPECT_EQ(choice->SetInterface(k.name), k.status) << c.name << ": " << handed;
      EXPECT_EQ(InterfaceOf(choice.Get()), std::make_pair(k.held_status, std::string(k.held)))
          << c.name << ": after " << handed;
    }
  }
}

TEST_F(NetworkFilters, ReceiverTakesAnInterfaceWhileRunning) {
  ComPtr<IBaseFilter> filter = Create(CLSID_NetworkReceiver);
  ComPtr<INetworkInterface> choice;
  ASSERT_EQ(filter.As(&choice), S_OK);
  {
    FilterPipeline pipeline(filter.Get());
    GstElement* sink = pipeline.Add("fakesink");
    g_object_set(sink, "async", FALSE, nullptr);
    ASSERT_TRUE(gst_element_link(pipeline.filter(), sink));
    ASSERT_TRUE(pipeline.PlayAndSettle());
    // Without an endpoint nothing is joined; the choice waits for one.
    EXPECT_EQ(choice->SetInterface("lo"), S_OK);
    EXPECT_EQ(choice->SetInterface("no-such-if9"), E_INVALIDARG);
    EXPECT_EQ(InterfaceOf(choice.Get()), std::make_pair(S_OK, std::string("lo")));
    EXPECT_FALSE(StatisticsOf(filter.Get()).listening);
    pipeline.Stop();
  }
  EXPECT_EQ(InterfaceOf(choice.Get()), std::make_pair(S_OK, std::string("lo")))
      << "the choice outlives a stop";
}

TEST_F(NetworkFilters, OfferOnePinForTheStream) {
  struct Expected {
    CLSID clsid;
    PIN_DIRECTION direction;
    const char16_t* name;
  } expected[] = {{CLSID_NetworkSender, PINDIR_INPUT, u"in"},
                  {CLSID_NetworkReceiver, PINDIR_OUTPUT, u"out"}};
  for (const Expected& e : expected) {
    ComPtr<IBaseFilter> filter = Create(e.clsid);
    const auto pins = PinsOf(filter.Get());
    ASSERT_EQ(pins.size(), 1u);
    PIN_INFO info{};
    ASSERT_EQ(pins[0]->QueryPinInfo(&info), S_OK);
    ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    EXPECT_EQ(info.dir, e.direction);
    EXPECT_EQ(std::u16string(info.achName), e.name);
    char* formats = nullptr;
    ASSERT_EQ(pins[0]->QueryFormats(&formats), S_OK);
    const std::string text = formats;
    CoTaskMemFree(formats);
    EXPECT_NE(text.find("video/mpeg"), std::string::npos) << text;
    EXPECT_NE(text.find("mpegversion=(int)4"), std::string::npos) << text;
    EXPECT_NE(text.find("systemstream=(boolean)false"), std::string::npos) << text;
  }
}

TEST_F(NetworkFilters, ReceiverRunsWithoutEndpointAndStopsAtOnce) {
  ComPtr<IBaseFilter> filter = Create(CLSID_NetworkReceiver);
  {
    FilterPipeline pipeline(filter.Get());
    GstElement* sink = pipeline.Add("fakesink");
    g_object_set(sink, "async", FALSE, nullptr);
    ASSERT_TRUE(gst_element_link(pipeline.filter(), sink));
    ASSERT_TRUE(pipeline.PlayAndSettle());
    NetworkStatistics s = StatisticsOf(filter.Get());
    EXPECT_FALSE(s.listening);
    EXPECT_EQ(s.packets, 0u);
    EXPECT_EQ(s.seconds_since_last_packet, -1);
    pipeline.Stop();  // joins the receive thread, which waits on nothing
  }
}

TEST_F(NetworkFilters, SenderRunsWithoutEndpointAndSendsNothing) {
  ComPtr<IBaseFilter> filter = Create(CLSID_NetworkSender);
  {
    FilterPipeline pipeline(filter.Get());
    GstElement* source = pipeline.Add("appsrc");
    GstCaps* caps = gst_caps_from_string("video/mpeg, mpegversion=4, systemstream=false");
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, nullptr);
    gst_caps_unref(caps);
    ASSERT_TRUE(gst_element_link(source, pipeline.filter()));
    ASSERT_TRUE(pipeline.PlayAndSettle());
    for (int i = 0; i < 3; ++i) {
      const std::vector<std::uint8_t> frame = {0, 0, 1, 0xB6, 0x50, 0x11, 0x22};
      GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
      GST_BUFFER_PTS(buffer) = i * GST_SECOND / 30;
      ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source), buffer), GST_FLOW_OK);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    ASSERT_TRUE(pipeline.WaitForEndOfStream());
    const NetworkStatistics s = StatisticsOf(filter.Get());
    EXPECT_EQ(s.frames_without_endpoint, 3u);
    EXPECT_EQ(s.packets, 0u);
    EXPECT_EQ(s.frames, 0u);
    EXPECT_FALSE(s.has_endpoint);
    pipeline.Stop();
  }
}

}  // namespace
