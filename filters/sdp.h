#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

// The session description (RFC 4566) of an MP4V-ES stream over RTP, so that
// FFmpeg, VLC or GStreamer can play what the sender puts on the network.

struct Mp4vSessionDescription {
  std::string address;  // dotted IPv4, a group or a host
  std::uint16_t port = 0;
  int ttl = 1;  // written for a group only
  int profile_level = 1;
  std::span<const std::uint8_t> config;  // VOS/VO/VOL headers, written as hex
  std::uint32_t session_id = 0;
};

std::string MakeMp4vSdp(const Mp4vSessionDescription& description);

// "235.1.2.3-9000.sdp": the name a description is published under.
std::string SdpFileName(std::string_view address, std::uint16_t port);

// One published file, written atomically (readers see the old text or the new,
// never a part), replaced under a new name or withdrawn; withdrawn when destroyed.
// Not thread-safe: its owner guards it.
class PublishedFile {
 public:
  PublishedFile() = default;
  PublishedFile(const PublishedFile&) = delete;
  PublishedFile& operator=(const PublishedFile&) = delete;
  ~PublishedFile() { Withdraw(); }

  // Writes `text` to `file`; the file published before under another name is
  // removed. False when the file could not be written (the old one is gone then too).
  bool Publish(const std::filesystem::path& file, std::string_view text);
  void Withdraw();
  // The file published now, or empty.
  const std::filesystem::path& current() const { return current_; }

 private:
  std::filesystem::path current_;
};
