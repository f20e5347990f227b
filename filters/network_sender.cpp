#include "filters/network_sender.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "filters/filter_classes.h"
#include "filters/property_pages.h"
#include "platform/com/storage.h"

GST_DEBUG_CATEGORY_STATIC(network_sender_debug);
#define GST_CAT_DEFAULT network_sender_debug

namespace {

constexpr const char* kInputCaps = "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false";

int TtlOf(std::uint32_t parameter) {
  const int ttl = static_cast<int>(parameter & net_parameter::kTtlMask);
  return ttl == 0 ? 1 : ttl;
}

bool LoopbackOf(std::uint32_t parameter) { return (parameter & net_parameter::kLoopbackOff) == 0; }

// The config in the caps' codec_data, if any.
std::vector<std::uint8_t> CodecData(GstCaps* caps) {
  if (!caps || gst_caps_get_size(caps) == 0) return {};
  const GValue* value = gst_structure_get_value(gst_caps_get_structure(caps, 0), "codec_data");
  if (!value || !GST_VALUE_HOLDS_BUFFER(value)) return {};
  GstBuffer* buffer = gst_value_get_buffer(value);
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
  std::vector<std::uint8_t> bytes(map.data, map.data + map.size);
  gst_buffer_unmap(buffer, &map);
  return bytes;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

NetworkSender::NetworkSender()
    : ComExtends(CLSID_NetworkSender), packetizer_(mp4v::Packetizer::RandomSettings()) {
  static std::once_flag debug_once;
  std::call_once(debug_once, [] {
    GST_DEBUG_CATEGORY_INIT(network_sender_debug, "presenter-network-sender", 0,
                            "presenter-link network sender");
  });
  counters_.role = NetworkStatistics::Role::kSender;
  counters_.ssrc = packetizer_.settings().ssrc;

  GstElement* bin = NewNetworkBin("network-sender");
  sink_ = gst_element_factory_make("appsink", "sink");
  GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(kInputCaps));
  // No clock, no preroll: a frame goes out the moment it arrives.
  g_object_set(sink_, "caps", caps.get(), "sync", FALSE, "async", FALSE, "emit-signals", FALSE,
               "enable-last-sample", FALSE, "qos", FALSE, nullptr);
  gst_bin_add(GST_BIN(bin), sink_);
  GstPadRef pad = GstPadRef::Adopt(gst_element_get_static_pad(sink_, "sink"));
  gst_element_add_pad(bin, gst_ghost_pad_new("in", pad.get()));

  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &NetworkSender::OnNewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
  SetNetworkBinListener(bin, this);
  SetElement(bin);

  if (!socket_.ok()) GST_ERROR("no UDP socket: %s", std::strerror(socket_.last_error()));
  ApplySocketOptions();
}

NetworkSender::~NetworkSender() {
  // Stop the streaming thread before what it uses goes.
  SetNetworkBinListener(Element(), nullptr);
  gst_element_set_state(Element(), GST_STATE_NULL);
  std::lock_guard lock(mutex_);
  description_.Withdraw();
  description_text_.clear();
}

HRESULT NetworkSender::SetParameter(std::uint32_t value) {
  std::lock_guard lock(mutex_);
  const bool ttl_changed = TtlOf(value) != TtlOf(parameter_);
  parameter_ = value;
  ApplySocketOptions();
  if (ttl_changed) PublishDescription();
  return S_OK;
}

HRESULT NetworkSender::GetEndpoint(std::uint32_t* address, std::uint32_t* port) {
  if (!address || !port) return E_POINTER;
  std::lock_guard lock(mutex_);
  EndpointToArguments(endpoint_.value_or(UdpEndpoint{}), address, port);
  return endpoint_ ? S_OK : S_FALSE;
}

HRESULT NetworkSender::SetEndpoint(std::uint32_t address, std::uint32_t port) {
  const UdpEndpoint endpoint = EndpointFromArguments(address, port);
  std::lock_guard lock(mutex_);
  if (endpoint == UdpEndpoint{}) {
    endpoint_.reset();
    description_.Withdraw();
    description_text_.clear();
    return S_OK;
  }
  if (endpoint.address == 0 || endpoint.address == INADDR_NONE || endpoint.port == 0) {
    return E_INVALIDARG;
  }
  if (endpoint_ == endpoint) return S_OK;
  GST_INFO("endpoint %s:%u", endpoint.AddressText().c_str(), endpoint.port);
  endpoint_ = endpoint;  // the next frame goes there
  PublishDescription();
  return S_OK;
}

HRESULT NetworkSender::GetStatistics(NetworkStatistics* statistics) {
  if (!statistics) return E_POINTER;
  std::lock_guard lock(mutex_);
  NetworkStatistics s = counters_;
  s.has_endpoint = endpoint_.has_value();
  s.address = endpoint_ ? endpoint_->address : 0;
  s.port = endpoint_ ? endpoint_->port : 0;
  s.parameter = parameter_;
  s.config_known = !config_.empty();
  if (started_) {
    s.seconds_running = Seconds(stopped_.value_or(Clock::now()) - *started_);
    if (s.seconds_running > 0) {
      s.bit_rate = static_cast<double>(s.bytes) * 8 / s.seconds_running;
      s.frames_per_second = static_cast<double>(s.frames) / s.seconds_running;
    }
  }
  *statistics = s;
  return S_OK;
}

HRESULT NetworkSender::SetInterface(const char* name) {
  const std::string wanted = name ? name : "";
  const unsigned index = InterfaceIndex(wanted);
  if (!wanted.empty() && index == 0) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  // The socket option is the kernel's to guard: the streaming thread's next
  // datagram already goes out by it.
  if (socket_.ok() && !socket_.SetMulticastInterface(index)) {
    GST_WARNING("interface %s refused: %s", wanted.c_str(), std::strerror(socket_.last_error()));
    return E_INVALIDARG;
  }
  if (wanted != interface_) GST_INFO("interface %s", wanted.empty() ? "(routed)" : wanted.c_str());
  interface_ = wanted;
  return S_OK;
}

HRESULT NetworkSender::GetInterface(char** name) {
  if (!name) return E_POINTER;
  std::lock_guard lock(mutex_);
  return HandOutInterfaceName(interface_, name);
}

HRESULT NetworkSender::GetDescription(char** text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  std::lock_guard lock(mutex_);
  if (description_text_.empty()) return S_FALSE;
  auto* copy = static_cast<char*>(CoTaskMemAlloc(description_text_.size() + 1));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy, description_text_.c_str(), description_text_.size() + 1);
  *text = copy;
  return S_OK;
}

HRESULT NetworkSender::GetPages(CAUUID* pages) { return PageList({CLSID_NetworkSenderPage}, pages); }

std::filesystem::path NetworkSender::PublishedDescription() const {
  std::lock_guard lock(mutex_);
  return description_.current();
}

void NetworkSender::OnStateChange(GstStateChange transition) {
  std::lock_guard lock(mutex_);
  switch (transition) {
    case GST_STATE_CHANGE_READY_TO_PAUSED: {
      // The graph starts: counts start afresh, the timeline goes on.
      NetworkStatistics fresh;
      fresh.role = counters_.role;
      fresh.ssrc = counters_.ssrc;
      counters_ = fresh;
      started_ = Clock::now();
      stopped_.reset();
      timeline_restart_ = true;
      break;
    }
    case GST_STATE_CHANGE_PAUSED_TO_READY:
      stopped_ = Clock::now();
      break;
    default:
      break;
  }
}

GstFlowReturn NetworkSender::OnNewSample(GstAppSink* sink, gpointer self) {
  GstSampleRef sample = GstSampleRef::Adopt(gst_app_sink_pull_sample(sink));
  if (sample) static_cast<NetworkSender*>(self)->Send(sample.get());
  return GST_FLOW_OK;
}

// The frame's capture time on a timeline that never goes back: its running
// time while timestamps advance, the time between arrivals where they do not
// (a missing or repeated timestamp, or a new run of the graph).
std::uint64_t NetworkSender::CaptureTime(GstSample* sample, GstBuffer* buffer) {
  const Clock::time_point now = Clock::now();
  std::optional<std::uint64_t> running;
  const GstSegment* segment = gst_sample_get_segment(sample);
  if (segment && GST_BUFFER_PTS_IS_VALID(buffer)) {
    const guint64 time =
        gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (GST_CLOCK_TIME_IS_VALID(time)) running = time;
  }
  bool restart = false;
  {
    std::lock_guard lock(mutex_);
    restart = std::exchange(timeline_restart_, false);
  }
  if (restart) have_running_time_ = false;

  if (!have_timeline_) {
    last_capture_ns_ = running.value_or(0);
    have_timeline_ = true;
  } else if (running && have_running_time_ && *running > last_running_time_) {
    last_capture_ns_ += *running - last_running_time_;
  } else {
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_arrival_);
    last_capture_ns_ += static_cast<std::uint64_t>(std::max<std::int64_t>(since.count(), 1));
  }
  if (running) last_running_time_ = *running;
  have_running_time_ = running.has_value();
  last_arrival_ = now;
  return last_capture_ns_;
}

void NetworkSender::Send(GstSample* sample) {
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  if (!buffer) return;

  GstCaps* caps = gst_sample_get_caps(sample);
  if (caps != last_caps_.get()) {
    last_caps_ = GstCapsRef::Share(caps);
    const std::vector<std::uint8_t> codec_data = CodecData(caps);
    if (!codec_data.empty()) packetizer_.SetConfig(codec_data);
  }
  const std::uint64_t capture_ns = CaptureTime(sample, buffer);

  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
  const mp4v::Packetizer::Result result =
      packetizer_.Packetize(std::span<const std::uint8_t>(map.data, map.size), capture_ns);

  std::optional<UdpEndpoint> endpoint;
  {
    std::lock_guard lock(mutex_);
    endpoint = endpoint_;
  }

  std::size_t refused = 0;
  std::uint64_t bytes = 0;
  if (endpoint && !result.packets.empty()) {
    const sockaddr_in to = endpoint->SocketAddress();
    refused = socket_.Send(result.packets, to);
    for (const auto& packet : result.packets) bytes += packet.header.size() + packet.PayloadSize();
    if (refused) {
      GST_WARNING("%zu of %zu datagrams refused: %s", refused, result.packets.size(),
                  std::strerror(socket_.last_error()));
    }
  }
  gst_buffer_unmap(buffer, &map);

  std::lock_guard lock(mutex_);
  // Described once the frame is out: the stream does not wait on the disk.
  if (!std::ranges::equal(packetizer_.Config(), config_)) {
    config_.assign(packetizer_.Config().begin(), packetizer_.Config().end());
    PublishDescription();
  }
  if (!endpoint) ++counters_.frames_without_endpoint;
  if (!endpoint || result.packets.empty()) return;
  counters_.packets += result.packets.size() - refused;
  counters_.bytes += bytes;
  counters_.send_errors += refused;
  ++counters_.frames;
  if (result.keyframe) ++counters_.keyframes;
  if (result.config_inserted) ++counters_.configs_inserted;
}

void NetworkSender::ApplySocketOptions() {
  if (!socket_.ok()) return;
  if (!socket_.SetMulticastOptions(TtlOf(parameter_), LoopbackOf(parameter_))) {
    GST_WARNING("multicast options refused: %s", std::strerror(socket_.last_error()));
  }
}

void NetworkSender::PublishDescription() {
  if (!endpoint_ || config_.empty()) {
    description_.Withdraw();
    description_text_.clear();
    return;
  }
  Mp4vSessionDescription description;
  description.address = endpoint_->AddressText();
  description.port = endpoint_->port;
  description.ttl = TtlOf(parameter_);
  description.profile_level = mp4v::ProfileLevel(config_);
  description.config = config_;
  description.session_id = packetizer_.settings().ssrc;
  const std::filesystem::path file =
      RuntimeDirectory() / SdpFileName(description.address, description.port);
  std::string text = MakeMp4vSdp(description);
  if (description_.Publish(file, text)) {
    description_text_ = std::move(text);
  } else {
    description_text_.clear();
    GST_WARNING("cannot write %s", file.c_str());
  }
}
