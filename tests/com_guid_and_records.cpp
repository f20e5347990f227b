#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/com/storage.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

TEST(Guid, TextFormRoundTripsInUpperCase) {
  const auto parsed = GuidFromString("{4315d437-5b8c-11d0-bd3b-00a0c911ce86}");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, CLSID_CDeviceMoniker);
  EXPECT_EQ(GuidToString(*parsed), "{4315D437-5B8C-11D0-BD3B-00A0C911CE86}");
}

TEST(Guid, MalformedTextIsRejected) {
  for (const char* text : {"", "4315D437-5B8C-11D0-BD3B-00A0C911CE86", "{4315D437-5B8C-11D0-BD3B-00A0C911CE8}",
                           "{4315D437-5B8C-11D0-BD3B-00A0C911CE86", "{4315D437_5B8C-11D0-BD3B-00A0C911CE86}",
                           "{4315D437-5B8C-11D0-BD3B-00A0C911CEG6}"}) {
    EXPECT_FALSE(GuidFromString(text)) << text;
  }
}

TEST(Guid, BinaryLayoutIsLittleEndianFieldsThenBytes) {
  std::uint8_t bytes[kGuidBinarySize];
  GuidToBytes(CLSID_CDeviceMoniker, bytes);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 16), Hex("37D41543 8C5BD011 BD3B00A0 C911CE86"));
  EXPECT_EQ(GuidFromBytes(bytes), CLSID_CDeviceMoniker);
}

TEST(Guid, ComparesAndHashesByValue) {
  const GUID a = MakeGuid("{00000000-0000-0000-0000-000000000001}");
  const GUID b = MakeGuid("{00000000-0000-0000-0000-000000000002}");
  EXPECT_LT(a, b);
  EXPECT_NE(a, b);
  EXPECT_EQ(std::hash<GUID>{}(a), std::hash<GUID>{}(MakeGuid("{00000000-0000-0000-0000-000000000001}")));
  EXPECT_NE(std::hash<GUID>{}(a), std::hash<GUID>{}(b));
}

struct RecordCase {
  const char16_t* name;
  std::size_t whole_size;
};

class SelectionRecord : public ::testing::TestWithParam<RecordCase> {};

TEST_P(SelectionRecord, HasTheStoredSizesAndRoundTripsThroughTheMoniker) {
  const long live_before = ComLiveObjectCount();
  const std::u16string name = GetParam().name;
  const std::vector<std::uint8_t> record = MakeSelectionRecord(name);
  ASSERT_EQ(record.size(), GetParam().whole_size);
  const std::uint32_t length = record[0] | (record[1] << 8) | (record[2] << 16) | (record[3] << 24);
  EXPECT_EQ(length + 4, record.size());
  EXPECT_EQ(record[record.size() - 1], 0);
  EXPECT_EQ(record[record.size() - 2], 0);

  // Load the L bytes the way a stored selection is loaded, then save it again.
  auto stream = CreateMemoryStream(std::span(record).subspan(4));
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(OleLoadFromStream(stream.Get(), IMoniker::iid, moniker.ReleaseAndGetVoidAddress()), S_OK);
  LPWSTR display = nullptr;
  ASSERT_EQ(moniker->GetDisplayName(nullptr, nullptr, &display), S_OK);
  EXPECT_EQ(std::u16string(display), name);
  CoTaskMemFree(display);

  auto saved = CreateMemoryStream();
  ASSERT_EQ(OleSaveToStream(moniker.Get(), saved.Get()), S_OK);
  EXPECT_EQ(MemoryStreamBytes(saved.Get()), std::vector<std::uint8_t>(record.begin() + 4, record.end()));
  moniker.Reset();
  saved.Reset();
  stream.Reset();
  EXPECT_EQ(ComLiveObjectCount(), live_before);
}

INSTANTIATE_TEST_SUITE_P(
    StoredNames, SelectionRecord,
    ::testing::Values(
        RecordCase{u"@device:pnp:\\\\?\\usb#vid_046d&pid_0870#5&35bc3a4b&0&1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global", 222},
        RecordCase{u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid", 134},
        RecordCase{u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{CE3B76CB-9540-48FA-9974-69A625D478E3}", 202},
        RecordCase{u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{70E102B0-5556-11CE-97C0-00AA0055595A}", 202}));

TEST(SelectionRecord, EncoderRecordStartsAndEndsAsStored) {
  const auto record = MakeSelectionRecord(u"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\xvid");
  ASSERT_GE(record.size(), 28u);
  EXPECT_EQ(std::vector<std::uint8_t>(record.begin(), record.begin() + 28),
            Hex("82000000 37D41543 8C5BD011 BD3B00A0 C911CE86 6E000000 40006400"));
  EXPECT_EQ(std::vector<std::uint8_t>(record.end() - 10, record.end()), Hex("78007600 69006400 0000"));
}

TEST(SelectionRecord, DamagedMonikerDataLoadsNothing) {
  const auto good = MakeSelectionRecord(u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{CE3B76CB-9540-48FA-9974-69A625D478E3}");
  const std::vector<std::uint8_t> moniker(good.begin() + 4, good.end());
  auto with = [&](auto change) {
    std::vector<std::uint8_t> bytes = moniker;
    change(bytes);
    return bytes;
  };
  const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
      {"empty", {}},
      {"class only", std::vector<std::uint8_t>(moniker.begin(), moniker.begin() + 16)},
      {"truncated name", std::vector<std::uint8_t>(moniker.begin(), moniker.end() - 3)},
      {"odd size", with([](auto& b) { b[16] = 0xB1; })},
      {"huge size", with([](auto& b) { b[19] = 0x7F; })},
      {"no terminating zero", with([](auto& b) { b[b.size() - 2] = 'x'; })},
      {"unknown class", with([](auto& b) { b[0] ^= 0xFF; })},
  };
  const long live_before = ComLiveObjectCount();
  for (const auto& [what, bytes] : cases) {
    auto stream = CreateMemoryStream(bytes);
    ComPtr<IMoniker> loaded;
    EXPECT_TRUE(FAILED(OleLoadFromStream(stream.Get(), IMoniker::iid, loaded.ReleaseAndGetVoidAddress()))) << what;
    EXPECT_FALSE(loaded) << what;
  }
  EXPECT_EQ(ComLiveObjectCount(), live_before);
}

TEST(MemoryStream, ReadsShortAtTheEndAndSeeks) {
  const std::uint8_t bytes[] = {1, 2, 3};
  auto stream = CreateMemoryStream(bytes);
  std::uint8_t buffer[4] = {};
  ULONG read = 0;
  EXPECT_EQ(stream->Read(buffer, 2, &read), S_OK);
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(stream->Read(buffer, 4, &read), S_FALSE);
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(buffer[0], 3);
  std::uint64_t position = 0;
  EXPECT_EQ(stream->Seek(0, STREAM_SEEK_SET, &position), S_OK);
  EXPECT_EQ(stream->Write("\x09", 1, nullptr), S_OK);
  EXPECT_EQ(MemoryStreamBytes(stream.Get()), (std::vector<std::uint8_t>{9, 2, 3}));
  EXPECT_TRUE(FAILED(stream->Seek(-1, STREAM_SEEK_SET, nullptr)));
}

}  // namespace
