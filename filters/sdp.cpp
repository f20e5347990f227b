#include "filters/sdp.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace {

bool IsMulticast(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  return IN_MULTICAST(ntohl(parsed.s_addr));
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

}  // namespace

std::string MakeMp4vSdp(const Mp4vSessionDescription& d) {
  std::string connection = d.address;
  if (IsMulticast(d.address)) connection += "/" + std::to_string(d.ttl);
  std::string fmtp = "a=fmtp:96 profile-level-id=" + std::to_string(d.profile_level);
  if (!d.config.empty()) fmtp += ";config=" + Hex(d.config);

  // RFC 4566 ends every line with CRLF.
  std::string sdp;
  sdp += "v=0\r\n";
  sdp += "o=- " + std::to_string(d.session_id) + " 1 IN IP4 127.0.0.1\r\n";
  sdp += "s=presenter-link\r\n";
  sdp += "c=IN IP4 " + connection + "\r\n";
  sdp += "t=0 0\r\n";
  sdp += "m=video " + std::to_string(d.port) + " RTP/AVP 96\r\n";
  sdp += "a=rtpmap:96 MP4V-ES/90000\r\n";
  sdp += fmtp + "\r\n";
  return sdp;
}

std::string SdpFileName(std::string_view address, std::uint16_t port) {
  return std::string(address) + "-" + std::to_string(port) + ".sdp";
}

bool PublishedFile::Publish(const std::filesystem::path& file, std::string_view text) {
  if (!current_.empty() && current_ != file) Withdraw();
  static std::atomic<unsigned> counter{0};
  std::filesystem::path temporary = file;
  temporary += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      Withdraw();
      return false;
    }
  }
  // rename() replaces the old file in one step.
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    Withdraw();
    return false;
  }
  current_ = file;
  return true;
}

void PublishedFile::Withdraw() {
  if (current_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(current_, ignored);
  current_.clear();
}
