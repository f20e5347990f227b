#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/com/window_message.h"

namespace {

struct IAnimal : IUnknown {
  static constexpr IID iid = MakeGuid("{11111111-0000-0000-0000-000000000001}");
  virtual int Legs() = 0;
};
struct IDog : IAnimal {
  static constexpr IID iid = MakeGuid("{11111111-0000-0000-0000-000000000002}");
  using Base = IAnimal;
  virtual const char* Bark() = 0;
};
struct ITail : IUnknown {
  static constexpr IID iid = MakeGuid("{11111111-0000-0000-0000-000000000003}");
  virtual int Wags() = 0;
};

class Dog : public ComObject<IDog> {
 public:
  int Legs() override { return 4; }
  const char* Bark() override { return "woof"; }
};

class TailedDog : public ComExtends<Dog, ITail> {
 public:
  int Wags() override { return 3; }
};

constexpr CLSID kDogClass = MakeGuid("{11111111-0000-0000-0000-0000000000D0}");

TEST(ComPtr, ReleasesOnScopeExitAndTheLiveCountReturns) {
  const long before = ComLiveObjectCount();
  {
    auto dog = MakeComObject<Dog>();
    EXPECT_EQ(ComLiveObjectCount(), before + 1);
    ComPtr<IDog> copy = dog;
    ComPtr<IDog> moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(moved->AddRef(), 3u);  // dog, moved, and this one
    moved->Release();
  }
  EXPECT_EQ(ComLiveObjectCount(), before);
}

TEST(ComObject, AnswersItsInterfacesAndTheirBases) {
  const long before = ComLiveObjectCount();
  {
    ComPtr<IUnknown> unknown;
    {
      auto dog = MakeComObject<TailedDog>();
      ASSERT_EQ(dog.As(&unknown), S_OK);
    }
    ComPtr<IAnimal> animal;
    ComPtr<IDog> dog;
    ComPtr<ITail> tail;
    EXPECT_EQ(unknown.As(&animal), S_OK);
    EXPECT_EQ(animal->Legs(), 4);
    EXPECT_EQ(unknown.As(&dog), S_OK);
    EXPECT_STREQ(dog->Bark(), "woof");
    EXPECT_EQ(unknown.As(&tail), S_OK);
    EXPECT_EQ(tail->Wags(), 3);
    // Every route to IUnknown gives the same identity.
    ComPtr<IUnknown> from_tail;
    EXPECT_EQ(tail.As(&from_tail), S_OK);
    EXPECT_EQ(from_tail.Get(), unknown.Get());
    ComPtr<IStream> not_offered;
    EXPECT_EQ(unknown.As(&not_offered), E_NOINTERFACE);
    EXPECT_FALSE(not_offered);
  }
  EXPECT_EQ(ComLiveObjectCount(), before);
}

TEST(ClassRegistry, CreatesRegisteredClassesAndRefusesUnknownOnes) {
  RegisterClass(kDogClass, "Dog", FactoryFor<Dog>());
  ComPtr<IDog> dog;
  EXPECT_EQ(CoCreateInstance(kDogClass, &dog), S_OK);
  ASSERT_TRUE(dog);
  EXPECT_EQ(dog->Legs(), 4);

  void* raw = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(MakeGuid("{11111111-0000-0000-0000-0000000000FF}"), nullptr,
                             CLSCTX_INPROC_SERVER, IDog::iid, &raw),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(CoCreateInstance(kDogClass, nullptr, CLSCTX_INPROC_SERVER, ITail::iid, &raw), E_NOINTERFACE);
  EXPECT_EQ(raw, nullptr);

  bool listed = false;
  for (const ClassInfo& info : RegisteredClasses()) listed |= info.clsid == kDogClass && info.friendly_name == "Dog";
  EXPECT_TRUE(listed);
  EXPECT_TRUE(IsClassRegistered(CLSID_CDeviceMoniker));
  UnregisterClass(kDogClass);
  EXPECT_FALSE(IsClassRegistered(kDogClass));
}

TEST(Apartment, FirstInitializeIsOkThenFalseAndEachThreadCountsAlone) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  std::thread([] {
    EXPECT_FALSE(IsComInitializedOnThisThread());
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
  CoUninitialize();
  EXPECT_TRUE(IsComInitializedOnThisThread());
  CoUninitialize();
  EXPECT_FALSE(IsComInitializedOnThisThread());
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST(TaskMemory, OutstandingBlocksAreCounted) {
  const long before = CoTaskMemOutstanding();
  void* block = CoTaskMemAlloc(16);
  EXPECT_EQ(CoTaskMemOutstanding(), before + 1);
  CoTaskMemFree(block);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(CoTaskMemOutstanding(), before);
}

TEST(ErrorText, FitsTheBufferAndNamesUnknownStatuses) {
  char buffer[255];
  const auto length = AMGetErrorText(E_FAIL, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Unspecified error.");
  EXPECT_EQ(length, std::strlen(buffer));
  char small[6];
  EXPECT_EQ(AMGetErrorText(E_FAIL, small, sizeof small), 5u);
  EXPECT_STREQ(small, "Unspe");
  AMGetErrorText(MakeStatus(0x80ABCDEF), buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Unknown status 0x80ABCDEF.");
}

TEST(DisplayNames, SoftwareNamesCreateTheRegisteredClass) {
  RegisterClass(kDogClass, "Dog", FactoryFor<Dog>());
  ComPtr<IDog> dog;
  EXPECT_EQ(BindDisplayName(u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{11111111-0000-0000-0000-0000000000D0}",
                            IDog::iid, dog.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_TRUE(dog);
  ComPtr<IDog> none;
  EXPECT_EQ(BindDisplayName(u"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{11111111-0000-0000-0000-0000000000EE}",
                            IDog::iid, none.ReleaseAndGetVoidAddress()),
            MK_E_NOOBJECT);
  EXPECT_EQ(BindDisplayName(u"@device:sw:garbage", IDog::iid, none.ReleaseAndGetVoidAddress()), MK_E_SYNTAX);
  EXPECT_EQ(BindDisplayName(u"@nothing:here", IDog::iid, none.ReleaseAndGetVoidAddress()), MK_E_SYNTAX);
  EXPECT_FALSE(none);
  UnregisterClass(kDogClass);
}

TEST(DisplayNames, TheLongestRegisteredPrefixWinsAndAMonikerBindsThroughIt) {
  int short_calls = 0, long_calls = 0;
  RegisterDisplayNameResolver(u"@test:", [&](std::u16string_view, REFIID, void**) {
    ++short_calls;
    return MK_E_NOOBJECT;
  });
  RegisterDisplayNameResolver(u"@test:long:", [&](std::u16string_view name, REFIID riid, void** object) {
    ++long_calls;
    EXPECT_EQ(name, u"@TEST:long:x");
    return MakeComObject<Dog>()->QueryInterface(riid, object);
  });
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(CreateDeviceMoniker(u"@TEST:long:x", moniker.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IAnimal> animal;
  EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IAnimal::iid, animal.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(long_calls, 1);
  EXPECT_EQ(short_calls, 0);
  UnregisterDisplayNameResolver(u"@test:");
  UnregisterDisplayNameResolver(u"@test:long:");
}

class PublishedThing : public ComObject<IPublishedObject> {
 public:
  void StartPublishing(const std::filesystem::path& file) override {
    file_ = file;
    std::ofstream(file) << "digraph {}\n";
  }
  void StopPublishing() override { stopped_ = true; }
  std::filesystem::path file_;
  bool stopped_ = false;
};

TEST(RunningObjectTable, RegistersPublishesAndRevokes) {
  const long before = ComLiveObjectCount();
  {
    ComPtr<IRunningObjectTable> table;
    ASSERT_EQ(GetRunningObjectTable(0, table.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IMoniker> name;
    ASSERT_EQ(CreateItemMoniker(u"!", u"FilterGraph 0000000000001234 pid 7E8", name.ReleaseAndGetAddressOf()), S_OK);
    LPWSTR display = nullptr;
    name->GetDisplayName(nullptr, nullptr, &display);
    EXPECT_EQ(std::u16string(display), u"!FilterGraph 0000000000001234 pid 7E8");
    CoTaskMemFree(display);

    auto thing = MakeComObject<PublishedThing>();
    DWORD key = 0;
    ASSERT_EQ(table->Register(0, thing.Get(), name.Get(), &key), S_OK);
    EXPECT_NE(key, 0u);
    EXPECT_EQ(table->IsRunning(name.Get()), S_OK);
    const std::filesystem::path expected =
        PublishedGraphsDirectory() / "FilterGraph 0000000000001234 pid 7E8.dot";
    EXPECT_EQ(thing->file_, expected);
    EXPECT_TRUE(std::filesystem::exists(expected));

    ComPtr<IUnknown> found;
    EXPECT_EQ(table->GetObject(name.Get(), found.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IUnknown> thing_identity;
    thing.As(&thing_identity);
    EXPECT_EQ(found.Get(), thing_identity.Get());

    EXPECT_EQ(table->Revoke(key), S_OK);
    EXPECT_TRUE(thing->stopped_);
    EXPECT_FALSE(std::filesystem::exists(expected));
    EXPECT_EQ(table->IsRunning(name.Get()), S_FALSE);
    EXPECT_EQ(table->Revoke(key), E_INVALIDARG);
  }
  EXPECT_EQ(ComLiveObjectCount(), before);
}

TEST(RuntimeDirectory, IsAPrivateFolder) {
  const auto folder = RuntimeDirectory();
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  const auto permissions = std::filesystem::status(folder).permissions();
  EXPECT_EQ(permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
  EXPECT_EQ(PublishedGraphsDirectory(), folder / "graphs");
}

bool RecordingPoster(OAHWND window, std::uint32_t message, WPARAM, LPARAM lparam) {
  return window == 42 && message == 0x8001 && lparam == 7;
}

TEST(WindowMessages, AreDeliveredOnlyThroughAnInstalledPoster) {
  SetWindowMessagePoster(nullptr);
  EXPECT_FALSE(PostWindowMessage(42, 0x8001, 0, 7));
  SetWindowMessagePoster(RecordingPoster);
  EXPECT_TRUE(PostWindowMessage(42, 0x8001, 0, 7));
  EXPECT_FALSE(PostWindowMessage(0, 0x8001, 0, 7));
  SetWindowMessagePoster(nullptr);
}

}  // namespace
