// Any standard RTP receiver can play the sender's stream: FFmpeg, given only the
// SDP description the sender publishes, decodes it (inside the namespace).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filters/filter_classes.h"
#include "net/endpoint.h"
#include "net/net_endpoint_config.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/graph.h"
#include "support/display_names.h"
#include "support/test_world.h"

namespace {

using Clock = std::chrono::steady_clock;

using display_names::kEncoder;
using display_names::kSender;
using display_names::kTestPatternCamera;

struct Output {
  int status = -1;
  std::string text;
};

Output Shell(const std::string& command) {
  Output output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char chunk[4096];
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.text.append(chunk, n);
  const int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status)) output.status = WEXITSTATUS(status);
  return output;
}

class FfmpegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override {
    if (control_) control_->Stop();
    for (const auto& filter : filters_) manager_->RemoveFilter(filter.Get());
    filters_.clear();
    control_ = nullptr;
    builder_ = nullptr;
    manager_ = nullptr;
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  long live_at_start_ = 0;
  ComPtr<IFilterGraph2> manager_;
  ComPtr<ICaptureGraphBuilder2> builder_;
  ComPtr<IMediaControl> control_;
  std::vector<ComPtr<IBaseFilter>> filters_;
};

TEST_F(FfmpegTest, PublishedDescription_FfmpegDecodesTheSendersStream) {
  if (Shell("command -v ffmpeg >/dev/null 2>&1 && echo yes").text != "yes\n")
    GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh installs it)";

  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, &builder_), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, &manager_), S_OK);
  ASSERT_EQ(builder_->SetFiltergraph(manager_.Get()), S_OK);
  ASSERT_EQ(manager_.As(&control_), S_OK);
  const std::pair<const char16_t*, const char16_t*> members[] = {
      {kTestPatternCamera, u"SourceFilter"}, {kEncoder, u"DivXEncoder"}, {kSender, u"SenderFilter"}};
  for (const auto& [display_name, name] : members) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(BindDisplayName(display_name, IBaseFilter::iid, filter.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_TRUE(SUCCEEDED(manager_->AddFilter(filter.Get(), name)));
    filters_.push_back(filter);
  }
  ComPtr<INetEndpointConfig> endpoint;
  ASSERT_EQ(filters_[2].As(&endpoint), S_OK);
  ASSERT_EQ(endpoint->SetEndpoint(inet_addr(net::kGroupAddress), std::uint32_t{htons(net::kPort)}),
            S_OK);
  ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, filters_[0].Get(), filters_[1].Get(),
                                   filters_[2].Get()),
            S_OK);
  ASSERT_TRUE(SUCCEEDED(control_->Run()));

  // The description appears once the sender has seen the stream's configuration.
  const std::filesystem::path sdp = RuntimeDirectory() / "235.1.2.3-9000.sdp";
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(sdp) && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(std::filesystem::exists(sdp)) << sdp;

  // One checksum line per decoded frame: "stream, dts, pts, duration, size, crc".
  const Output ffmpeg = Shell(
      "timeout 30 ffmpeg -nostdin -hide_banner -loglevel error -protocol_whitelist file,udp,rtp "
      "-i '" + sdp.string() + "' -frames:v 10 -f framecrc - 2>&1");
  ASSERT_EQ(ffmpeg.status, 0) << ffmpeg.text;
  int frames = 0;
  std::istringstream lines(ffmpeg.text);
  for (std::string line; std::getline(lines, line);) {
    // Error lines may come before the first keyframe; they are not frames.
    if (line.rfind("0,", 0) != 0) continue;
    // A whole decoded 640x480 I420 picture each: the fifth field is its size.
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, ',');) {
      field.erase(0, field.find_first_not_of(' '));
      fields.push_back(field);
    }
    ASSERT_EQ(fields.size(), 6u) << line;
    EXPECT_EQ(fields[4], "460800") << line;
    ++frames;
  }
  EXPECT_EQ(frames, 10) << ffmpeg.text;
}

}  // namespace
