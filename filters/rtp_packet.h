#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The fixed RTP header (RFC 3550, section 5.1) as it is written and read here.
// We write no CSRC list, no extension and no padding; we read all three.

inline constexpr std::size_t kRtpHeaderSize = 12;
inline constexpr std::uint8_t kRtpVersion = 2;

struct RtpHeader {
  bool marker = false;
  std::uint8_t payload_type = 0;
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t ssrc = 0;
};

using RtpHeaderBytes = std::array<std::uint8_t, kRtpHeaderSize>;

RtpHeaderBytes WriteRtpHeader(const RtpHeader& header);

struct RtpPacketView {
  RtpHeader header;
  // Borrowed from the datagram: what follows the header, CSRCs and extension,
  // with any padding taken off the end.
  std::span<const std::uint8_t> payload;
};

// Reads a datagram as RTP version 2. None for anything shorter than its own
// header says it is, or of another version.
std::optional<RtpPacketView> ParseRtp(std::span<const std::uint8_t> datagram);
