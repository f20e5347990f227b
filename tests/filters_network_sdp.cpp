#include "filters/sdp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

const std::vector<std::uint8_t> kConfig = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01,
                                           0xB5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00, 0x00,
                                           0x00, 0x01, 0x20, 0x00, 0xC4, 0x8D, 0x8F, 0xFF};

std::string Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Mp4vSdp, DescribesGroupStreamForStandardPlayers) {
  Mp4vSessionDescription d;
  d.address = "235.1.2.3";
  d.port = 9000;
  d.ttl = 1;
  d.profile_level = 1;
  d.config = kConfig;
  d.session_id = 42;
  EXPECT_EQ(MakeMp4vSdp(d),
            "v=0\r\n"
            "o=- 42 1 IN IP4 127.0.0.1\r\n"
            "s=presenter-link\r\n"
            "c=IN IP4 235.1.2.3/1\r\n"
            "t=0 0\r\n"
            "m=video 9000 RTP/AVP 96\r\n"
            "a=rtpmap:96 MP4V-ES/90000\r\n"
            "a=fmtp:96 profile-level-id=1;config=000001B001000001B589130000010000000120"
            "00C48D8FFF\r\n");
}

TEST(Mp4vSdp, HostAddressHasNoTimeToLive) {
  Mp4vSessionDescription d;
  d.address = "127.0.0.1";
  d.port = 5004;
  d.ttl = 4;
  d.profile_level = 3;
  const std::string sdp = MakeMp4vSdp(d);
  EXPECT_NE(sdp.find("c=IN IP4 127.0.0.1\r\n"), std::string::npos) << sdp;
  EXPECT_NE(sdp.find("a=fmtp:96 profile-level-id=3\r\n"), std::string::npos) << sdp;
}

TEST(Mp4vSdp, FileIsNamedAfterGroupAndPort) {
  EXPECT_EQ(SdpFileName("235.1.2.3", 9000), "235.1.2.3-9000.sdp");
}

class PublishedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/presenter-link-sdp-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder_),
                                                  std::filesystem::directory_iterator()));
  }
  std::filesystem::path folder_;
};

TEST_F(PublishedFileTest, WritesReplacesAndWithdraws) {
  const auto first = folder_ / "235.1.2.3-9000.sdp";
  const auto second = folder_ / "235.1.2.3-9002.sdp";
  {
    PublishedFile file;
    ASSERT_TRUE(file.Publish(first, "one"));
    EXPECT_EQ(Read(first), "one");
    EXPECT_EQ(file.current(), first);

    ASSERT_TRUE(file.Publish(first, "two"));
    EXPECT_EQ(Read(first), "two");
    EXPECT_EQ(FilesInFolder(), 1u) << "no temporary file left behind";

    ASSERT_TRUE(file.Publish(second, "three"));
    EXPECT_FALSE(std::filesystem::exists(first)) << "the old name is withdrawn";
    EXPECT_EQ(Read(second), "three");

    file.Withdraw();
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_TRUE(file.current().empty());
    ASSERT_TRUE(file.Publish(first, "four"));
  }
  EXPECT_EQ(FilesInFolder(), 0u) << "withdrawn when it goes";
}

TEST_F(PublishedFileTest, ReportsFileItCannotWrite) {
  PublishedFile file;
  EXPECT_FALSE(file.Publish(folder_ / "missing-folder" / "x.sdp", "text"));
  EXPECT_TRUE(file.current().empty());
}

}  // namespace
