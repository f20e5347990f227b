// presenter-filters: what the stored filter selections of presenter-link can
// name on this machine.
//
//   presenter-filters list            every filter class and attached camera:
//                                     DISPLAY-NAME<TAB>friendly name
//   presenter-filters resolve NAME    whether NAME resolves, and the filter's pins
//                                     and formats; exit 0 only when it resolves
//   presenter-filters record NAME     the stored selection record for NAME in
//                                     hexadecimal, for a layout's { ... } value
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "filters/camera_devices.h"
#include "filters/filter_classes.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/filter.h"
#include "platform/dshow/graph.h"

namespace {

constexpr int kExitResolved = 0;
constexpr int kExitUnresolved = 1;
constexpr int kExitUsage = 2;

int Usage() {
  std::fputs(
      "usage: presenter-filters list\n"
      "       presenter-filters resolve DISPLAY-NAME\n"
      "       presenter-filters record DISPLAY-NAME\n",
      stderr);
  return kExitUsage;
}

std::string HexStatus(HRESULT status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

// The display name under which a registered filter class is stored.
std::string DisplayNameOfClass(REFCLSID clsid) {
  if (clsid == CLSID_Mpeg4Encoder) {
    return "@device:cm:" + GuidToString(CLSID_VideoCompressorCategory) + "\\xvid";
  }
  return "@device:sw:" + GuidToString(CLSID_LegacyAmFilterCategory) + "\\" + GuidToString(clsid);
}

std::string FriendlyNameOf(REFCLSID clsid) {
  for (const ClassInfo& info : RegisteredClasses()) {
    if (info.clsid == clsid) return info.friendly_name;
  }
  return {};
}

int List() {
  for (const ClassInfo& info : RegisteredClasses()) {
    // Only classes that make filters: monikers and graph objects are registered too.
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(info.clsid, &filter))) continue;
    std::printf("%s\t%s\n", DisplayNameOfClass(info.clsid).c_str(), info.friendly_name.c_str());
  }
  for (const CaptureDevice& device : ListCaptureDevices()) {
    if (!device.captures_video) continue;
    std::printf("%s\t%s\n", Utf16ToUtf8(DisplayNameOf(device)).c_str(), device.name.c_str());
  }
  return kExitResolved;
}

// Resolves NAME the way a filter slot does: through its stored record, the
// persisted moniker and its binding.
int Resolve(const std::u16string& name) {
  const std::vector<std::uint8_t> record = MakeSelectionRecord(name);
  const auto moniker_bytes = std::span(record).subspan(4);
  const ComPtr<IStream> stream = CreateMemoryStream(moniker_bytes);
  ComPtr<IMoniker> moniker;
  HRESULT status = OleLoadFromStream(stream.Get(), IMoniker::iid, moniker.ReleaseAndGetVoidAddress());
  ComPtr<IBaseFilter> filter;
  if (SUCCEEDED(status)) {
    status = moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid,
                                   filter.ReleaseAndGetVoidAddress());
  }
  const std::string utf8 = Utf16ToUtf8(name);
  if (FAILED(status) || !filter) {
    std::printf("%s\n  unresolved: %s (%s)\n", utf8.c_str(), StatusText(status).c_str(),
                HexStatus(status).c_str());
    return kExitUnresolved;
  }

  CLSID clsid{};
  filter->GetClassID(&clsid);
  const std::string friendly = FriendlyNameOf(clsid);
  std::printf("%s\n  resolves to %s%s%s\n", utf8.c_str(), GuidToString(clsid).c_str(),
              friendly.empty() ? "" : " ", friendly.c_str());
  for (const ComPtr<IPin>& pin : PinsOf(filter.Get())) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) continue;
    const ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    std::printf("  pin %s (%s)\n", Utf16ToUtf8(info.achName).c_str(),
                info.dir == PINDIR_INPUT ? "input" : "output");
    char* formats = nullptr;
    if (SUCCEEDED(pin->QueryFormats(&formats)) && formats) {
      const char* line = formats;
      while (*line) {
        const char* end = std::strchr(line, '\n');
        const std::size_t length = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
        std::printf("    %.*s\n", static_cast<int>(length), line);
        line += length + (end ? 1 : 0);
      }
      CoTaskMemFree(formats);
    }
  }
  return kExitResolved;
}

int Record(const std::u16string& name) {
  const std::vector<std::uint8_t> record = MakeSelectionRecord(name);
  // Groups of four bytes, eight groups a line, as a layout's binary value holds them.
  std::string line;
  for (std::size_t i = 0; i < record.size(); ++i) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02X", record[i]);
    if (i % 4 == 0 && !line.empty()) line += ' ';
    line += byte;
    if (i % 32 == 31) {
      std::printf("%s\n", line.c_str());
      line.clear();
    }
  }
  if (!line.empty()) std::printf("%s\n", line.c_str());
  return kExitResolved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "record") {
    if (argc != 3) return Usage();
    return Record(Utf8ToUtf16(argv[2]));
  }
  if (command != "list" && command != "resolve") return Usage();
  if (command == "list" && argc != 2) return Usage();
  if (command == "resolve" && argc != 3) return Usage();

  // The renderer paints into a widget, so a filter of it needs an application
  // object; this tool never shows a window.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  CoInitialize(nullptr);
  RegisterPresenterLinkClasses();
  const int result = command == "list" ? List() : Resolve(Utf8ToUtf16(argv[2]));
  CoUninitialize();
  return result;
}
