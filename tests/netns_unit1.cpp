// The window with real media, inside the private network namespace: the stored
// layout with the test pattern camera in place of the USB camera, the endpoint
// buttons, Send and Receive as a user presses them, and the close.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "Unit1.h"
#include "filters/filter_classes.h"
#include "net/endpoint.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "support/group_socket.h"
#include "support/media_window_test.h"
#include "support/test_layout.h"
#include "support/test_world.h"

namespace {

using Clock = std::chrono::steady_clock;

bool PublishedGraphExists(const std::string& entry_name) {
  return std::filesystem::exists(PublishedGraphsDirectory() / (entry_name + ".dot"));
}

class Form1MediaTest : public MediaWindowTest {};

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
  RunLoopUntil(
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
  RunLoopUntil(
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
