// The window with real media, inside the private network namespace: the stored
// layout with the test pattern camera in place of the USB camera, the endpoint
// buttons, Send and Receive as a user presses them, and the close.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImage>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "Unit1.h"
#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "net/endpoint.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the window's loop until `done` holds; the deadline only keeps a broken
// build from hanging the run.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline_after) {
  const auto deadline = Clock::now() + deadline_after;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A plain socket in the group, as any receiver on the network would be.
class GroupSocket {
 public:
  GroupSocket() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(net::kPort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ready_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
    ip_mreq join{};
    join.imr_multiaddr.s_addr = inet_addr(net::kGroupAddress);
    join.imr_interface.s_addr = htonl(INADDR_ANY);
    ready_ = ready_ && ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
  }
  ~GroupSocket() { ::close(fd_); }
  bool Ready() const { return ready_; }

  // Every datagram waiting now.
  std::vector<std::vector<std::uint8_t>> Take() {
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (;;) {
      std::vector<std::uint8_t> datagram(65536);
      const ssize_t n = ::recv(fd_, datagram.data(), datagram.size(), 0);
      if (n <= 0) return datagrams;
      datagram.resize(static_cast<std::size_t>(n));
      datagrams.push_back(std::move(datagram));
    }
  }

 private:
  int fd_ = -1;
  bool ready_ = false;
};

bool PublishedGraphExists(const std::string& entry_name) {
  return std::filesystem::exists(PublishedGraphsDirectory() / (entry_name + ".dot"));
}

class Form1MediaTest : public testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override {
    form_.reset();
    QCoreApplication::processEvents();
    CoUninitialize();
  }

  void Open() {
    form_ = TForm1::Create(TestPatternLayout());
    ASSERT_NE(form_, nullptr);
    form_->Show();
  }

  // The frame number stamped into the picture in the video area of the window, if any.
  std::optional<std::uint16_t> ShownFrame() const {
    auto* window = reinterpret_cast<QWidget*>(form_->Handle());
    const QImage shot =
        window->grab(QRect(208, 128, 160, 120)).toImage().convertToFormat(QImage::Format_RGB32);
    if (shot.width() != 160 || shot.height() != 120) return std::nullopt;
    return frame_stamp::ReadRgb32(shot.constBits(), static_cast<int>(shot.bytesPerLine()),
                                  shot.width(), shot.height());
  }

  long live_at_start_ = 0;
  std::unique_ptr<TForm1> form_;
};

TEST_F(Form1MediaTest, EndpointThenSendPutsRtpOnTheGroupAndCloseReleasesAll) {
  GroupSocket group;
  ASSERT_TRUE(group.Ready()) << "cannot join " << net::kGroupAddress;
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::string entry = form_->FilterGraph->RegistrationName();
  ASSERT_FALSE(entry.empty());
  EXPECT_TRUE(PublishedGraphExists(entry)) << entry;

  ReportedErrors errors;
  form_->Button1->Click();
  form_->GO->Click();
  ASSERT_EQ(errors.Text(), "");

  std::vector<std::vector<std::uint8_t>> rtp;
  WaitUntil(
      [&] {
        for (auto& datagram : group.Take()) {
          if (datagram.size() >= 12 && (datagram[0] >> 6) == 2) rtp.push_back(std::move(datagram));
        }
        return rtp.size() >= 30;
      },
      std::chrono::seconds(20));
  ASSERT_GE(rtp.size(), 30u) << "RTP datagrams seen on the group";
  std::set<std::uint32_t> sources;
  for (const auto& datagram : rtp) {
    EXPECT_EQ(datagram[1] & 0x7F, 96) << "payload type";
    sources.insert(std::uint32_t{datagram[8]} << 24 | std::uint32_t{datagram[9]} << 16 |
                   std::uint32_t{datagram[10]} << 8 | datagram[11]);
  }
  EXPECT_EQ(sources.size(), 1u) << "one stream, one source";

  EXPECT_TRUE(form_->Close());
  EXPECT_FALSE(form_->FilterGraph->Active());
  EXPECT_FALSE(PublishedGraphExists(entry)) << entry;
  EXPECT_EQ(errors.Text(), "");
  form_.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
  EXPECT_EQ(live_at_start_, 0);
}

TEST_F(Form1MediaTest, ReceiveThenSendShowsTheMovingPatternInTheVideoArea) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ReportedErrors errors;
  form_->Button2->Click();
  form_->Button1->Click();
  form_->Button4->Click();
  const auto sent = Clock::now();
  form_->GO->Click();
  ASSERT_EQ(errors.Text(), "");

  std::set<std::uint16_t> frames;
  Clock::time_point moving{};
  WaitUntil(
      [&] {
        if (const auto frame = ShownFrame()) frames.insert(*frame);
        if (frames.size() >= 2 && moving == Clock::time_point{}) moving = Clock::now();
        return frames.size() >= 2;
      },
      std::chrono::seconds(20));
  ASSERT_GE(frames.size(), 2u) << "distinct stamped frames seen in the video area";
  const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(moving - sent);
  EXPECT_LE(after.count(), 1000) << "the moving pattern showed " << after.count() << " ms after Send";

  EXPECT_TRUE(form_->Close());
  EXPECT_TRUE(form_->FilterGraph1->Active());  // the receive graph goes with the window
  form_.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
}

}  // namespace
