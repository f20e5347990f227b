#include "filters/network_receiver.h"

#include <arpa/inet.h>
#include <poll.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "filters/filter_classes.h"
#include "filters/property_pages.h"

GST_DEBUG_CATEGORY_STATIC(network_receiver_debug);
#define GST_CAT_DEFAULT network_receiver_debug

namespace {

constexpr const char* kOutputCaps =
    "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false, parsed=(boolean)true";

// Datagrams read per system call, and the room for each: more than any RTP
// packet on an Ethernet; a larger datagram is not ours.
constexpr std::size_t kBatch = 32;
constexpr std::size_t kDatagramRoom = 4096;
// Batches read before the thread looks at its wake-up event again.
constexpr int kBatchesPerWake = 16;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::chrono::milliseconds ReorderWindowOf(std::uint32_t parameter) {
  return std::chrono::milliseconds((parameter & net_parameter::kReorderWindowMask) >>
                                   net_parameter::kReorderWindowShift);
}

// Hands the frame's bytes to a buffer without copying them.
GstBuffer* WrapFrame(std::vector<std::uint8_t>&& data) {
  auto* owned = new std::vector<std::uint8_t>(std::move(data));
  return gst_buffer_new_wrapped_full(
      GST_MEMORY_FLAG_READONLY, owned->data(), owned->size(), 0, owned->size(), owned,
      [](gpointer p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
}

}  // namespace

NetworkReceiver::NetworkReceiver() : ComExtends(CLSID_NetworkReceiver) {
  static std::once_flag debug_once;
  std::call_once(debug_once, [] {
    GST_DEBUG_CATEGORY_INIT(network_receiver_debug, "presenter-network-receiver", 0,
                            "presenter-link network receiver");
  });
  counters_.role = NetworkStatistics::Role::kReceiver;

  GstElement* bin = NewNetworkBin("network-receiver");
  source_ = gst_element_factory_make("appsrc", "source");
  GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(kOutputCaps));
  // Live, stamped by us on arrival, never blocking the receive thread.
  g_object_set(source_, "caps", caps.get(), "is-live", TRUE, "format", GST_FORMAT_TIME,
               "do-timestamp", FALSE, "block", FALSE, "emit-signals", FALSE, "min-latency",
               gint64{0}, "max-bytes", guint64{0}, nullptr);
  // appsrc answers a caps query with ANY until it runs; the caps filter states
  // the format from the start, so a graph can connect the pin while stopped.
  GstElement* format = gst_element_factory_make("capsfilter", "format");
  g_object_set(format, "caps", caps.get(), nullptr);
  gst_bin_add_many(GST_BIN(bin), source_, format, nullptr);
  gst_element_link(source_, format);
  GstPadRef pad = GstPadRef::Adopt(gst_element_get_static_pad(format, "src"));
  gst_element_add_pad(bin, gst_ghost_pad_new("out", pad.get()));
  SetNetworkBinListener(bin, this);
  SetElement(bin);
}

NetworkReceiver::~NetworkReceiver() {
  SetNetworkBinListener(Element(), nullptr);
  StopReceiving();
  gst_element_set_state(Element(), GST_STATE_NULL);
}

HRESULT NetworkReceiver::SetParameter(std::uint32_t value) {
  {
    std::lock_guard lock(mutex_);
    parameter_ = value;
  }
  wake_.Signal();
  return S_OK;
}

HRESULT NetworkReceiver::GetEndpoint(std::uint32_t* address, std::uint32_t* port) {
  if (!address || !port) return E_POINTER;
  std::lock_guard lock(mutex_);
  EndpointToArguments(endpoint_.value_or(UdpEndpoint{}), address, port);
  return endpoint_ ? S_OK : S_FALSE;
}

HRESULT NetworkReceiver::SetEndpoint(std::uint32_t address, std::uint32_t port) {
  const UdpEndpoint endpoint = EndpointFromArguments(address, port);
  std::optional<UdpEndpoint> wanted;
  if (!(endpoint == UdpEndpoint{})) {
    if (endpoint.address == 0 || endpoint.address == INADDR_NONE || endpoint.port == 0) {
      return E_INVALIDARG;
    }
    wanted = endpoint;
  }
  {
    std::lock_guard lock(mutex_);
    if (endpoint_ == wanted) return S_OK;
    endpoint_ = wanted;
    ++endpoint_generation_;
  }
  // The receive thread, if running, moves over at once.
  wake_.Signal();
  return S_OK;
}

HRESULT NetworkReceiver::SetInterface(const char* name) {
  const std::string wanted = name ? name : "";
  if (!wanted.empty() && InterfaceIndex(wanted) == 0) return E_INVALIDARG;
  {
    std::lock_guard lock(mutex_);
    if (interface_ == wanted) return S_OK;
    interface_ = wanted;
    ++endpoint_generation_;
  }
  // The receive thread, if running, leaves and joins again there at once.
  wake_.Signal();
  return S_OK;
}

HRESULT NetworkReceiver::GetInterface(char** name) {
  if (!name) return E_POINTER;
  std::lock_guard lock(mutex_);
  return HandOutInterfaceName(interface_, name);
}

HRESULT NetworkReceiver::GetStatistics(NetworkStatistics* statistics) {
  if (!statistics) return E_POINTER;
  std::lock_guard lock(mutex_);
  NetworkStatistics s = counters_;
  s.has_endpoint = endpoint_.has_value();
  s.address = endpoint_ ? endpoint_->address : 0;
  s.port = endpoint_ ? endpoint_->port : 0;
  s.parameter = parameter_;
  s.listening = counters_.listening && listening_generation_ == endpoint_generation_;
  const Clock::time_point now = Clock::now();
  if (last_packet_) s.seconds_since_last_packet = Seconds(now - *last_packet_);
  if (started_) {
    s.seconds_running = Seconds(stopped_.value_or(now) - *started_);
    if (s.seconds_running > 0) {
      s.bit_rate = static_cast<double>(s.bytes) * 8 / s.seconds_running;
      s.frames_per_second = static_cast<double>(s.frames) / s.seconds_running;
    }
  }
  *statistics = s;
  return S_OK;
}

HRESULT NetworkReceiver::GetPages(CAUUID* pages) {
  return PageList({CLSID_NetworkReceiverPage}, pages);
}

void NetworkReceiver::OnStateChange(GstStateChange transition) {
  switch (transition) {
    case GST_STATE_CHANGE_READY_TO_PAUSED:
      StartReceiving();
      break;
    case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
      playing_ = true;
      break;
    case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
      playing_ = false;
      break;
    case GST_STATE_CHANGE_PAUSED_TO_READY:
      StopReceiving();
      break;
    default:
      break;
  }
}

void NetworkReceiver::StartReceiving() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = false;
    NetworkStatistics fresh;
    fresh.role = counters_.role;
    counters_ = fresh;
    last_packet_.reset();
    started_ = Clock::now();
    stopped_.reset();
  }
  wake_.Drain();
  thread_ = std::thread(&NetworkReceiver::ReceiveLoop, this);
}

void NetworkReceiver::StopReceiving() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
  }
  wake_.Signal();
  thread_.join();
  std::lock_guard lock(mutex_);
  stopped_ = Clock::now();
  counters_.listening = false;
}

void NetworkReceiver::ReceiveLoop() {
  mp4v::Depacketizer depacketizer;
  std::optional<UdpReceiveSocket> socket;
  std::uint64_t generation = ~std::uint64_t{0};
  std::vector<mp4v::ReceivedFrame> frames;
  std::uint64_t oversized = 0;
  DeliveryCounts delivered;

  std::vector<std::uint8_t> room(kBatch * kDatagramRoom);
  std::array<iovec, kBatch> pieces{};
  std::array<mmsghdr, kBatch> messages{};
  for (std::size_t i = 0; i < kBatch; ++i) {
    pieces[i] = {room.data() + i * kDatagramRoom, kDatagramRoom};
    messages[i].msg_hdr.msg_iov = &pieces[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }

  for (;;) {
    std::optional<UdpEndpoint> wanted;
    std::string interface;
    bool moved = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_requested_) break;
      depacketizer.SetReorderWindow(ReorderWindowOf(parameter_));
      if (generation != endpoint_generation_) {
        generation = endpoint_generation_;
        wanted = endpoint_;
        interface = interface_;
        moved = true;
      }
    }
    if (moved) {
      socket.reset();  // leaves the old group
      depacketizer.Reset();
      // Looked up again at each join: an interface may have come back with
      // another index.
      const unsigned interface_index = InterfaceIndex(interface);
      if (wanted && !interface.empty() && interface_index == 0) {
        GST_ELEMENT_WARNING(Element(), RESOURCE, OPEN_READ, ("Cannot receive from %s:%u",
                            wanted->AddressText().c_str(), wanted->port),
                            ("there is no interface %s any more", interface.c_str()));
      } else if (wanted) {
        socket.emplace(*wanted, UdpReceiveSocket::kDefaultBuffer, interface_index);
        if (!socket->ok()) {
          GST_ELEMENT_WARNING(Element(), RESOURCE, OPEN_READ, ("Cannot receive from %s:%u",
                              wanted->AddressText().c_str(), wanted->port),
                              ("%s", socket->error().c_str()));
          socket.reset();
        } else if (socket->granted_buffer() < socket->requested_buffer()) {
          GST_WARNING("receive buffer for %s:%u is %d bytes, asked for %d: a keyframe burst "
                      "may overflow it (raise net.core.rmem_max)",
                      wanted->AddressText().c_str(), wanted->port, socket->granted_buffer(),
                      socket->requested_buffer());
        }
      }
      std::lock_guard lock(mutex_);
      counters_.listening = socket.has_value();
      listening_generation_ = generation;
      counters_.receive_buffer_requested = socket ? socket->requested_buffer() : 0;
      counters_.receive_buffer_granted = socket ? socket->granted_buffer() : 0;
    }

    int timeout_ms = -1;
    if (const auto deadline = depacketizer.NextDeadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      timeout_ms = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
    }
    pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {socket ? socket->fd() : -1, POLLIN, 0}};
    if (::poll(fds, 2, timeout_ms) < 0 && errno != EINTR) {
      GST_ERROR("poll: %s", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) wake_.Drain();

    if (socket && (fds[1].revents & POLLIN)) {
      for (int round = 0; round < kBatchesPerWake; ++round) {
        for (auto& message : messages) message.msg_len = 0;
        const int count = ::recvmmsg(socket->fd(), messages.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (count <= 0) break;
        const Clock::time_point arrival = Clock::now();
        for (int i = 0; i < count; ++i) {
          const mmsghdr& message = messages[static_cast<std::size_t>(i)];
          if (message.msg_hdr.msg_flags & MSG_TRUNC) {
            ++oversized;
            continue;
          }
          depacketizer.Push(std::span<const std::uint8_t>(
                                static_cast<const std::uint8_t*>(pieces[i].iov_base),
                                message.msg_len),
                            arrival, &frames);
        }
        PushFrames(&frames, &depacketizer, &delivered);
        if (static_cast<std::size_t>(count) < kBatch) break;
      }
    }
    depacketizer.Expire(Clock::now(), &frames);
    PushFrames(&frames, &depacketizer, &delivered);

    const mp4v::RtpReceiveCounters& c = depacketizer.Counters();
    std::lock_guard lock(mutex_);
    counters_.packets = c.packets;
    counters_.bytes = c.bytes;
    counters_.frames = delivered.frames;
    counters_.keyframes = delivered.keyframes;
    counters_.lost = c.lost;
    counters_.reordered = c.reordered;
    counters_.late = c.late;
    counters_.duplicates = c.duplicates;
    counters_.foreign_dropped = c.foreign + oversized;
    counters_.frames_skipped = c.frames_skipped;
    counters_.frames_dropped = delivered.dropped;
    counters_.jitter_ms = c.jitter * 1000.0 / mp4v::kClockRate;
    counters_.ssrc = c.ssrc.value_or(0);
    if (c.last_packet) last_packet_ = c.last_packet;
  }
}

void NetworkReceiver::PushFrames(std::vector<mp4v::ReceivedFrame>* frames,
                                 mp4v::Depacketizer* depacketizer, DeliveryCounts* counts) {
  bool broken = false;  // a frame before was dropped: the ones after need a keyframe
  for (mp4v::ReceivedFrame& frame : *frames) {
    const bool opens = frame.keyframe && frame.has_config;
    if (broken && !opens) {
      ++counts->dropped;
      continue;
    }
    const bool room =
        gst_app_src_get_current_level_bytes(GST_APP_SRC(source_)) < kMaxQueuedBytes;
    if (!playing_ || !room) {
      // Paused, or downstream is not taking frames: drop rather than queue.
      ++counts->dropped;
      broken = true;
      continue;
    }
    GstBuffer* buffer = WrapFrame(std::move(frame.data));
    if (!frame.keyframe) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (frame.discont || broken) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    broken = false;
    GST_BUFFER_PTS(buffer) = gst_element_get_current_running_time(source_);
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);  // takes the buffer
    ++counts->frames;
    if (frame.keyframe) ++counts->keyframes;
  }
  frames->clear();
  if (broken) depacketizer->RequireKeyframe();
}
