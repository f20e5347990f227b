#pragma once

#include <gst/app/gstappsrc.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "filters/network_bin.h"
#include "filters/network_interface.h"
#include "filters/network_statistics.h"
#include "filters/rtp_mp4v.h"
#include "filters/udp_socket.h"
#include "net/net_endpoint_config.h"
#include "platform/dshow/dialogs.h"
#include "platform/dshow/gst_filter.h"

// The network receiver: receives the RTP stream (RFC 3016, payload type 96) of
// the endpoint handed over through INetEndpointConfig and gives whole MPEG-4
// Part 2 frames on its output pin "out" (video/mpeg, mpegversion=4,
// systemstream=false, parsed=true), timestamped with their arrival.
//
// A thread of its own receives from the graph's start to its stop: a socket
// bound to the port on any address, in the group when the endpoint is one (on
// the interface named through INetworkInterface, or else the one the routing
// table picks), with a receive buffer of about 2 MB
// asked for (a warning and the statistics say where the kernel gives less).
// Each frame goes downstream the moment its last packet arrives; there is no
// jitter buffer unless SetParameter gives a reorder window. After joining and
// after a loss nothing goes downstream until a keyframe with its config.
// Datagrams that are not the stream are dropped and counted. A new endpoint
// takes effect at once (the old group is left, the new one joined), and so does
// a new interface; without an endpoint the filter runs and receives nothing.
// Neither stopping nor a new endpoint waits on the network.
class NetworkReceiver : public ComExtends<GstFilter, INetEndpointConfig, INetworkStatistics,
                                          INetworkInterface, ISpecifyPropertyPages>,
                        private NetworkBinListener {
 public:
  NetworkReceiver();

  // INetEndpointConfig. SetEndpoint(0, 0) forgets the endpoint; a zero port, a
  // zero address or 255.255.255.255 (inet_addr's failure) is E_INVALIDARG.
  HRESULT SetParameter(std::uint32_t value) override;
  HRESULT GetEndpoint(std::uint32_t* address, std::uint32_t* port) override;
  HRESULT SetEndpoint(std::uint32_t address, std::uint32_t port) override;
  // INetworkStatistics
  HRESULT GetStatistics(NetworkStatistics* statistics) override;
  // INetworkInterface: the interface IP_ADD_MEMBERSHIP names.
  HRESULT SetInterface(const char* name) override;
  HRESULT GetInterface(char** name) override;
  // ISpecifyPropertyPages: the network receiver page.
  HRESULT GetPages(CAUUID* pages) override;

  // Frames waiting in the filter beyond this many bytes are dropped (and the
  // stream waits for a keyframe) rather than queued without end.
  static constexpr guint64 kMaxQueuedBytes = 8 * 1024 * 1024;

 private:
  using Clock = std::chrono::steady_clock;

  ~NetworkReceiver() override;

  void OnStateChange(GstStateChange transition) override;
  void StartReceiving();
  void StopReceiving();
  void ReceiveLoop();
  struct DeliveryCounts {
    std::uint64_t frames = 0;
    std::uint64_t keyframes = 0;
    std::uint64_t dropped = 0;
  };
  // Hands frames downstream (receive thread).
  void PushFrames(std::vector<mp4v::ReceivedFrame>* frames, mp4v::Depacketizer* depacketizer,
                  DeliveryCounts* counts);

  GstElement* source_ = nullptr;  // borrowed: owned by the filter's bin
  WakeEvent wake_;
  std::thread thread_;  // started and joined by state changes and the destructor
  std::atomic<bool> playing_{false};

  mutable std::mutex mutex_;
  // Guarded by mutex_.
  std::optional<UdpEndpoint> endpoint_;
  std::string interface_;  // empty: the routing table's choice
  // Counts changes of the endpoint or the interface: the receive thread joins
  // afresh when it differs from the one it joined for.
  std::uint64_t endpoint_generation_ = 0;
  std::uint32_t parameter_ = 0;
  bool stop_requested_ = false;
  NetworkStatistics counters_;  // the receive thread's last report
  std::uint64_t listening_generation_ = 0;
  std::optional<Clock::time_point> last_packet_;
  std::optional<Clock::time_point> started_;
  std::optional<Clock::time_point> stopped_;
};
