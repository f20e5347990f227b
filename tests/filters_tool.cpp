// The presenter-filters tool, run as users run it: a separate process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "filters/camera_devices.h"
#include "filters/filter_classes.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"

#ifndef PRESENTER_FILTERS_PATH
#error "PRESENTER_FILTERS_PATH names the built tool (tests/CMakeLists.txt)"
#endif

namespace {

struct ToolRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
};

// Single quotes keep the display names' backslashes, '&', '#' and '?' as they are.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

ToolRun Tool(const std::vector<std::string>& args) {
  std::string command = Quoted(PRESENTER_FILTERS_PATH);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " 2>/dev/null";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char chunk[4096];
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) run.out.append(chunk, n);
  const int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

const char kCamera[] =
    "@device:pnp:\\\\?\\usb#vid_046d&pid_0870#5&35bc3a4b&0&1#"
    "{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
const char kEncoder[] = "@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid";
const char kSender[] =
    "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{CE3B76CB-9540-48FA-9974-69A625D478E3}";
const char kReceiver[] =
    "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{319F0815-ACEF-45FE-B497-A2E5D90A69D7}";
const char kDecoder[] =
    "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{64697678-0000-0010-8000-00AA00389B71}";
const char kRenderer[] =
    "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{70E102B0-5556-11CE-97C0-00AA0055595A}";

struct ResolveCase {
  const char* role;
  const char* name;
  const char* clsid;
};

void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.role; }

class ToolResolveTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ToolResolveTest, StoredSelectionResolves_PinsAndFormatsListed) {
  const ToolRun run = Tool({"resolve", GetParam().name});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(std::string("resolves to ") + GetParam().clsid), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  pin "), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    StoredLayout, ToolResolveTest,
    ::testing::Values(ResolveCase{"Encoder", kEncoder, "{9F4C2D71-3A8E-4B65-A0D7-5C1E8B2F4A63}"},
                      ResolveCase{"Sender", kSender, "{CE3B76CB-9540-48FA-9974-69A625D478E3}"},
                      ResolveCase{"Receiver", kReceiver, "{319F0815-ACEF-45FE-B497-A2E5D90A69D7}"},
                      ResolveCase{"Decoder", kDecoder, "{64697678-0000-0010-8000-00AA00389B71}"},
                      ResolveCase{"Renderer", kRenderer, "{70E102B0-5556-11CE-97C0-00AA0055595A}"}),
    [](const ::testing::TestParamInfo<ResolveCase>& info) { return std::string(info.param.role); });

TEST(Tool, ResolveEncoder_ListsItsInputAndOutputFormats) {
  const ToolRun run = Tool({"resolve", kEncoder});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("  pin in (input)\n    video/x-raw, format=(string)I420"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  pin out (output)\n    video/mpeg, mpegversion=(int)4"),
            std::string::npos)
      << run.out;
}

TEST(Tool, ResolveStoredCameraNotAttached_ExitsOneSayingUnresolved) {
  for (const CaptureDevice& device : ListCaptureDevices()) {
    if (device.captures_video && device.vendor_id == 0x046D && device.product_id == 0x0870)
      GTEST_SKIP() << "the stored camera is attached here (" << device.path << ")";
  }
  const ToolRun run = Tool({"resolve", kCamera});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("unresolved"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("resolves to"), std::string::npos) << run.out;
}

TEST(Tool, ResolveUnknownClass_ExitsOne) {
  const ToolRun run = Tool(
      {"resolve",
       "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{00000000-1111-2222-3333-444444444444}"});
  EXPECT_EQ(run.status, 1) << run.out;
}

TEST(Tool, RecordOfTheEncoder_HexReadyForTheLayout) {
  const ToolRun run = Tool({"record", kEncoder});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.rfind("82000000 37D41543 8C5BD011 BD3B00A0 C911CE86 6E000000 40006400", 0),
            0u)
      << run.out;
  std::string hex;
  for (char c : run.out) {
    if (c != ' ' && c != '\n') hex += c;
  }
  EXPECT_EQ(hex.size(), 2u * 134u);  // 4 + L bytes, L = 130
  EXPECT_EQ(hex.substr(hex.size() - 20), "78007600690064000000");  // "xvid" and the zero
}

TEST(Tool, List_OneLinePerFilterClassWithItsDisplayName) {
  const ToolRun run = Tool({"list"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string expected[] = {
      std::string(kEncoder) + "\t",
      std::string(kSender) + "\t",
      std::string(kReceiver) + "\t",
      std::string(kDecoder) + "\t",
      std::string(kRenderer) + "\t",
      "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{B7E3A1C4-6F2D-4E8A-9C51-0D3F7A2E6B94}\t",
  };
  for (const std::string& line : expected) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " missing from\n" << run.out;
  }
  // The graph objects and monikers are classes too, but no filters.
  EXPECT_EQ(run.out.find("{E436EBB3-524F-11CE-9F53-0020AF0BA770}"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("{4315D437-5B8C-11D0-BD3B-00A0C911CE86}"), std::string::npos) << run.out;
}

// What the tool lists is what registration leaves; registering again changes nothing.
TEST(Registration, SecondCall_LeavesTheSameClassesAndResolvers) {
  CoInitialize(nullptr);
  RegisterPresenterLinkClasses();
  const auto first = RegisteredClasses();
  RegisterPresenterLinkClasses();
  const auto second = RegisteredClasses();
  ASSERT_EQ(first.size(), second.size());
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].clsid, second[i].clsid);
    EXPECT_EQ(first[i].friendly_name, second[i].friendly_name);
  }
  const long live_at_start = ComLiveObjectCount();
  {
    ComPtr<IUnknown> encoder;
    EXPECT_EQ(BindDisplayName(u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid",
                              IUnknown::iid, encoder.ReleaseAndGetVoidAddress()),
              S_OK);
  }
  EXPECT_EQ(ComLiveObjectCount(), live_at_start);
  CoUninitialize();
}

TEST(Tool, NoCommand_ExitsTwo) {
  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({"resolve"}).status, 2);
  EXPECT_EQ(Tool({"frobnicate", "x"}).status, 2);
}

}  // namespace
