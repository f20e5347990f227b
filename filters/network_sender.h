#pragma once

#include <gst/app/gstappsink.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "filters/network_bin.h"
#include "filters/network_interface.h"
#include "filters/network_statistics.h"
#include "filters/rtp_mp4v.h"
#include "filters/sdp.h"
#include "filters/stream_description.h"
#include "filters/udp_socket.h"
#include "net/net_endpoint_config.h"
#include "platform/dshow/dialogs.h"
#include "platform/dshow/gst_filter.h"

// The network sender: takes MPEG-4 Part 2 video on its input pin "in"
// (video/mpeg, mpegversion=4, systemstream=false) and sends it as RTP (RFC 3016,
// payload type 96, 90 kHz) to the endpoint handed over through
// INetEndpointConfig.
//
// Each frame is packetized and sent the moment it arrives, on the streaming
// thread, from the filter's own UDP socket; nothing waits on a clock. The RTP
// timestamp is the frame's capture time (its timestamp). The configuration
// headers go in front of every keyframe that lacks them. Without an endpoint the
// filter runs and sends nothing; a new endpoint takes effect with the next frame,
// without a stop. Datagrams to a group leave by the interface named through
// INetworkInterface, or by the one the routing table picks; a new choice takes
// effect with the next datagram.
//
// While it has an endpoint and knows the stream's configuration, it publishes an
// SDP description as RuntimeDirectory()/"<group>-<port>.sdp", removed when the
// endpoint changes and when the filter goes.
class NetworkSender : public ComExtends<GstFilter, INetEndpointConfig, INetworkStatistics,
                                        INetworkInterface, IStreamDescription,
                                        ISpecifyPropertyPages>,
                      private NetworkBinListener {
 public:
  NetworkSender();

  // INetEndpointConfig. SetEndpoint(0, 0) forgets the endpoint; a zero port, a
  // zero address or 255.255.255.255 (inet_addr's failure) is E_INVALIDARG.
  HRESULT SetParameter(std::uint32_t value) override;
  HRESULT GetEndpoint(std::uint32_t* address, std::uint32_t* port) override;
  HRESULT SetEndpoint(std::uint32_t address, std::uint32_t port) override;
  // INetworkStatistics
  HRESULT GetStatistics(NetworkStatistics* statistics) override;
  // INetworkInterface: IP_MULTICAST_IF on the filter's socket.
  HRESULT SetInterface(const char* name) override;
  HRESULT GetInterface(char** name) override;
  // IStreamDescription: the SDP text published now.
  HRESULT GetDescription(char** text) override;
  // ISpecifyPropertyPages: the network sender page.
  HRESULT GetPages(CAUUID* pages) override;

  // The description file published now, or empty.
  std::filesystem::path PublishedDescription() const;

 private:
  using Clock = std::chrono::steady_clock;

  ~NetworkSender() override;

  void OnStateChange(GstStateChange transition) override;
  static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer self);
  void Send(GstSample* sample);
  std::uint64_t CaptureTime(GstSample* sample, GstBuffer* buffer);
  void ApplySocketOptions();
  void PublishDescription();  // with mutex_ held

  GstElement* sink_ = nullptr;  // borrowed: owned by the filter's bin

  // Streaming thread only.
  mp4v::Packetizer packetizer_;
  GstCapsRef last_caps_;
  bool have_timeline_ = false;
  bool have_running_time_ = false;
  std::uint64_t last_capture_ns_ = 0;
  std::uint64_t last_running_time_ = 0;
  Clock::time_point last_arrival_;

  // The socket sends on the streaming thread; its options are set from others.
  UdpSender socket_;

  mutable std::mutex mutex_;
  // Guarded by mutex_.
  std::optional<UdpEndpoint> endpoint_;
  std::uint32_t parameter_ = 0;
  std::string interface_;  // empty: the routing table's choice
  bool timeline_restart_ = false;
  std::vector<std::uint8_t> config_;  // as described
  PublishedFile description_;
  std::string description_text_;  // what description_ holds; empty when none
  NetworkStatistics counters_;
  std::optional<Clock::time_point> started_;
  std::optional<Clock::time_point> stopped_;
};
