#include "media/graph_event_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct EventLine {
  LONG code;
  const char* line;
};

class GraphEventTextTest : public testing::TestWithParam<EventLine> {};

TEST_P(GraphEventTextTest, GivesTheLineOfItsCode) {
  EXPECT_EQ(GraphEventText(GetParam().code), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GraphEventTextTest,
    testing::Values(
        EventLine{1, "EC_COMPLETE - All data from a particular stream has been rendered."},
        EventLine{3, "EC_ERRORABORT - An operation was aborted because of an error."},
        EventLine{26, "EC_STREAM_CONTROL_STOPPED - A stream-control start command has taken effect."},
        EventLine{27, "EC_STREAM_CONTROL_STARTED - A stream-control start command has taken effect."},
        EventLine{31, "EC_DEVICE_LOST - A Plug and Play device was removed or has become available again."},
        EventLine{48, "EC_TIMECODE_AVAILABLE- Sent by filter supporting timecode."},
        EventLine{83, "EC_VMR_RENDERDEVICE_SET - Identifies the type of rendering mechanism the VMR is using to display video."},
        EventLine{257, "EC_DVD_DOMAIN_CHANGE - Indicates the DVD Navigator's new domain."},
        EventLine{274, "EC_DVD_PLAYBACK_STOPPED - Indicates that playback has been stopped. The DVD Navigator has completed playback of the title and did not find any other branching instruction for subsequent playback."},
        EventLine{283, "EC_DVD_KARAOKE_MODE - Indicates that the Navigator has either begun playing or finished playing karaoke data."},
        EventLine{512, "EC_SNDDEV_IN_ERROR - An audio device error has occurred on an input pin."},
        EventLine{513, "EC_SNDDEV_OUT_ERROR - An audio device error has occurred on an output pin."}));

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, GraphEventTextTest,
    testing::Values(EventLine{15, "Unknow Graph Event ($F)"}, EventLine{30, "Unknow Graph Event ($1E)"},
                    EventLine{82, "Unknow Graph Event ($52)"}, EventLine{84, "Unknow Graph Event ($54)"},
                    EventLine{256, "Unknow Graph Event ($100)"}, EventLine{284, "Unknow Graph Event ($11C)"},
                    EventLine{511, "Unknow Graph Event ($1FF)"}, EventLine{514, "Unknow Graph Event ($202)"},
                    EventLine{0, "Unknow Graph Event ($0)"},
                    EventLine{-1, "Unknow Graph Event ($FFFFFFFF)"},
                    EventLine{-2147483647 - 1, "Unknow Graph Event ($80000000)"}));

// The table holds exactly the 64 codes: 35 general ones, 27 DVD codes without a gap, two sound ones.
TEST(GraphEventText, TableHoldsExactlyTheSixtyFourCodes) {
  const std::set<LONG> general = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 16, 17, 18, 19,
                                  20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 31, 36, 48, 49, 80, 81, 83};
  ASSERT_EQ(general.size(), 35u);
  int in_table = 0;
  for (LONG code = -5; code <= 600; ++code) {
    const std::string line = GraphEventText(code);
    const bool listed = general.count(code) || (code >= 257 && code <= 283) || code == 512 || code == 513;
    EXPECT_EQ(line.rfind("Unknow Graph Event ($", 0) != 0, listed) << code << ": " << line;
    if (listed) {
      ++in_table;
      EXPECT_EQ(line.rfind("EC_", 0), 0u) << code;
    }
  }
  EXPECT_EQ(in_table, 64);
}

TEST(GraphEventText, SameCodeGivesTheSameLine) { EXPECT_EQ(GraphEventText(2), GraphEventText(2)); }

}  // namespace
