#include "filters/rtp_packet.h"

namespace {

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t Read32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

void Write32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

RtpHeaderBytes WriteRtpHeader(const RtpHeader& header) {
  RtpHeaderBytes bytes{};
  bytes[0] = kRtpVersion << 6;
  bytes[1] = static_cast<std::uint8_t>((header.marker ? 0x80 : 0) | (header.payload_type & 0x7F));
  bytes[2] = static_cast<std::uint8_t>(header.sequence >> 8);
  bytes[3] = static_cast<std::uint8_t>(header.sequence);
  Write32(&bytes[4], header.timestamp);
  Write32(&bytes[8], header.ssrc);
  return bytes;
}

std::optional<RtpPacketView> ParseRtp(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < kRtpHeaderSize) return std::nullopt;
  const std::uint8_t* p = datagram.data();
  if ((p[0] >> 6) != kRtpVersion) return std::nullopt;
  const bool padding = (p[0] & 0x20) != 0;
  const bool extension = (p[0] & 0x10) != 0;
  const std::size_t csrc_count = p[0] & 0x0F;

  std::size_t offset = kRtpHeaderSize + 4 * csrc_count;
  if (datagram.size() < offset) return std::nullopt;
  if (extension) {
    if (datagram.size() < offset + 4) return std::nullopt;
    offset += 4 + 4 * std::size_t{Read16(p + offset + 2)};
    if (datagram.size() < offset) return std::nullopt;
  }
  std::size_t end = datagram.size();
  if (padding) {
    const std::size_t pad = p[end - 1];
    if (pad == 0 || end - offset < pad) return std::nullopt;
    end -= pad;
  }

  RtpPacketView view;
  view.header.marker = (p[1] & 0x80) != 0;
  view.header.payload_type = p[1] & 0x7F;
  view.header.sequence = Read16(p + 2);
  view.header.timestamp = Read32(p + 4);
  view.header.ssrc = Read32(p + 8);
  view.payload = datagram.subspan(offset, end - offset);
  return view;
}
