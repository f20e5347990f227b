#include "support/fake_filter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "filters/filter_classes.h"
#include "support/call_journal.h"

namespace {

struct ClassRecord {
  FakeFilterConfig config;
  std::vector<FakeFilter*> live;
  int created = 0;
};

std::map<CLSID, ClassRecord>& Classes() {
  static std::map<CLSID, ClassRecord> classes;
  return classes;
}

class FakePinEnum : public ComObject<IEnumPins> {
 public:
  explicit FakePinEnum(std::vector<ComPtr<IPin>> pins) : pins_(std::move(pins)) {}
  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    ULONG given = 0;
    while (given < count && next_ < pins_.size()) pins_[next_++].CopyTo(&pins[given++]);
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    next_ = std::min(pins_.size(), next_ + count);
    return S_OK;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  std::vector<ComPtr<IPin>> pins_;
  std::size_t next_ = 0;
};

std::string Hex(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string MemoryBytes(std::uint32_t value) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &value, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

std::u16string SoftwareFilterDisplayName(REFCLSID clsid) {
  return Utf8ToUtf16("@device:sw:" + GuidToString(CLSID_LegacyAmFilterCategory) + "\\" +
                     GuidToString(clsid));
}

FakeFilter::FakeFilter(REFCLSID clsid, FakeFilterConfig config)
    : clsid_(clsid), config_(std::move(config)) {
  for (int i = 0; i < config_.inputs; ++i) {
    pins_.push_back(new FakePin(this, PINDIR_INPUT, i == 0 ? "In" : "In" + std::to_string(i + 1)));
  }
  for (int i = 0; i < config_.outputs; ++i) {
    pins_.push_back(new FakePin(this, PINDIR_OUTPUT, i == 0 ? "Out" : "Out" + std::to_string(i + 1)));
  }
  for (FakePin* pin : pins_) pin->AddRef();
  ClassRecord& record = Classes()[clsid_];
  record.live.push_back(this);
  ++record.created;
}

FakeFilter::~FakeFilter() {
  for (FakePin* pin : pins_) {
    pin->Unlink();
    pin->filter_ = nullptr;
    pin->Release();
  }
  auto& live = Classes()[clsid_].live;
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

FakeFilter* FakeFilter::From(IUnknown* object) { return dynamic_cast<FakeFilter*>(object); }

HRESULT FakeFilter::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (const std::string name = InterfaceName(riid); !name.empty()) {
    Journal(Label() + ".QueryInterface(" + name + ")");
  }
  const bool withheld = (riid == INetEndpointConfig::iid && !config_.offers_endpoint) ||
                        (riid == ISpecifyPropertyPages::iid && !config_.offers_pages) ||
                        (riid == IAMVfwCompressDialogs::iid && !config_.offers_codec_dialogs) ||
                        (riid == IVideoWindow::iid && !config_.offers_video_window);
  if (withheld) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  return ComObject::QueryInterface(riid, object);
}

std::string FakeFilter::Label() const { return name_.empty() ? config_.label : Utf16ToUtf8(name_); }

HRESULT FakeFilter::Record(const std::string& call, const std::string& answer_key) {
  calls_.push_back(call);
  Journal(Label() + "." + call);
  const auto answer = config_.answers.find(answer_key);
  return answer == config_.answers.end() ? S_OK : answer->second;
}

std::string FakeFilter::Calls() const {
  std::string text;
  for (const std::string& call : calls_) text += (text.empty() ? "" : " ") + call;
  return text;
}

FakePin* FakeFilter::Input(int index) const {
  for (FakePin* pin : pins_) {
    if (pin->Direction() == PINDIR_INPUT && index-- == 0) return pin;
  }
  return nullptr;
}

FakePin* FakeFilter::Output(int index) const {
  for (FakePin* pin : pins_) {
    if (pin->Direction() == PINDIR_OUTPUT && index-- == 0) return pin;
  }
  return nullptr;
}

bool FakeFilter::AnyPinConnected() const {
  return std::any_of(pins_.begin(), pins_.end(), [](FakePin* pin) { return pin->Peer() != nullptr; });
}

HRESULT FakeFilter::GetClassID(CLSID* clsid) {
  *clsid = clsid_;
  return S_OK;
}

HRESULT FakeFilter::Stop() {
  const HRESULT status = Record("Stop()", "Stop");
  if (SUCCEEDED(status)) state_ = State_Stopped;
  return status;
}

HRESULT FakeFilter::Pause() {
  const HRESULT status = Record("Pause()", "Pause");
  if (SUCCEEDED(status)) state_ = State_Paused;
  return status;
}

HRESULT FakeFilter::Run(REFERENCE_TIME) {
  const HRESULT status = Record("Run()", "Run");
  if (SUCCEEDED(status)) state_ = State_Running;
  return status;
}

HRESULT FakeFilter::GetState(DWORD timeout_ms, FILTER_STATE* state) {
  *state = state_;
  return Record("GetState(" + std::to_string(timeout_ms) + ")", "GetState");
}

HRESULT FakeFilter::EnumPins(IEnumPins** pins) {
  std::vector<ComPtr<IPin>> list;
  for (FakePin* pin : pins_) list.emplace_back(pin);
  *pins = MakeComObject<FakePinEnum>(std::move(list)).Detach();
  return S_OK;
}

HRESULT FakeFilter::QueryFilterInfo(FILTER_INFO* info) {
  const HRESULT status = Record("QueryFilterInfo()", "QueryFilterInfo");
  std::memset(info, 0, sizeof *info);
  const std::size_t length = std::min(name_.size(), MAX_FILTER_NAME - 1);
  std::copy_n(name_.begin(), length, info->achName);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return status;
}

HRESULT FakeFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  const std::string shown = graph ? Utf16ToUtf8(name ? name : u"") : "null";
  if (graph) name_ = name ? name : u"";  // recorded under its new name
  const HRESULT status = Record("JoinFilterGraph(" + shown + ")", "JoinFilterGraph");
  graph_ = graph;
  if (!graph) name_.clear();
  return status;
}

HRESULT FakeFilter::SetParameter(std::uint32_t value) {
  return Record("SetParameter(" + MemoryBytes(value) + ")", "SetParameter");
}

HRESULT FakeFilter::GetEndpoint(std::uint32_t* address, std::uint32_t* port) {
  *address = address_;
  *port = port_;
  return S_OK;
}

HRESULT FakeFilter::SetEndpoint(std::uint32_t address, std::uint32_t port) {
  address_ = address;
  port_ = port;
  return Record("SetEndpoint(" + MemoryBytes(address) + ", " + MemoryBytes(port) + ")", "SetEndpoint");
}

HRESULT FakeFilter::GetPages(CAUUID* pages) {
  const HRESULT status = Record("GetPages()", "GetPages");
  pages->cElems = static_cast<ULONG>(config_.pages.size());
  pages->pElems = nullptr;
  if (!config_.pages.empty()) {
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * config_.pages.size()));
    std::copy(config_.pages.begin(), config_.pages.end(), pages->pElems);
  }
  return status;
}

HRESULT FakeFilter::ShowDialog(int dialog, OAHWND window) {
  return Record("ShowDialog(" + std::to_string(dialog) + ", " + (window ? "owner" : "0") + ")",
                "ShowDialog(" + std::to_string(dialog) + ")");
}

HRESULT FakeFilter::put_Owner(OAHWND owner) {
  owner_ = owner;
  return Record("put_Owner(" + Hex(owner) + ")", "put_Owner");
}
HRESULT FakeFilter::get_Owner(OAHWND* owner) {
  *owner = owner_;
  return S_OK;
}
HRESULT FakeFilter::put_WindowStyle(LONG style) {
  style_ = style;
  return Record("put_WindowStyle(" + Hex(static_cast<std::uint32_t>(style)) + ")", "put_WindowStyle");
}
HRESULT FakeFilter::get_WindowStyle(LONG* style) {
  *style = style_;
  return S_OK;
}
HRESULT FakeFilter::put_WindowStyleEx(LONG style) {
  style_ex_ = style;
  return Record("put_WindowStyleEx(" + Hex(static_cast<std::uint32_t>(style)) + ")", "put_WindowStyleEx");
}
HRESULT FakeFilter::get_WindowStyleEx(LONG* style) {
  *style = style_ex_;
  return S_OK;
}
HRESULT FakeFilter::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  left_ = left, top_ = top, width_ = width, height_ = height;
  return Record("SetWindowPosition(" + std::to_string(left) + ", " + std::to_string(top) + ", " +
                    std::to_string(width) + ", " + std::to_string(height) + ")",
                "SetWindowPosition");
}
HRESULT FakeFilter::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  *left = left_, *top = top_, *width = width_, *height = height_;
  return S_OK;
}
HRESULT FakeFilter::put_Caption(const WCHAR* caption) {
  caption_ = caption ? caption : u"";
  return Record("put_Caption(" + Utf16ToUtf8(caption_) + ")", "put_Caption");
}
HRESULT FakeFilter::get_Caption(BSTR* caption) {
  *caption = SysAllocString(caption_.c_str());
  return S_OK;
}
HRESULT FakeFilter::put_MessageDrain(OAHWND drain) {
  drain_ = drain;
  return Record("put_MessageDrain(" + Hex(drain) + ")", "put_MessageDrain");
}
HRESULT FakeFilter::get_MessageDrain(OAHWND* drain) {
  *drain = drain_;
  return S_OK;
}
HRESULT FakeFilter::put_Visible(LONG) { return Record("put_Visible()", "put_Visible"); }
HRESULT FakeFilter::get_Visible(LONG* visible) {
  *visible = OATRUE;
  return S_OK;
}

FakePin::FakePin(FakeFilter* filter, PIN_DIRECTION direction, std::string name)
    : filter_(filter), direction_(direction), name_(std::move(name)) {}

HRESULT FakePin::Connect(IPin* receive_pin) {
  auto* other = dynamic_cast<FakePin*>(receive_pin);
  if (!other || !filter_) return E_POINTER;
  const HRESULT status = filter_->Record(name_ + ".Connect()", "Connect");
  if (FAILED(status)) return status;
  if (peer_ || other->peer_) return VFW_E_ALREADY_CONNECTED;
  peer_ = other;
  other->peer_ = this;
  return S_OK;
}

HRESULT FakePin::Disconnect() {
  if (!filter_) return E_UNEXPECTED;
  const HRESULT status = filter_->Record(name_ + ".Disconnect()", "Disconnect");
  if (FAILED(status)) return status;
  if (!peer_) return S_FALSE;
  Unlink();
  return status;
}

void FakePin::Unlink() {
  if (peer_) peer_->peer_ = nullptr;
  peer_ = nullptr;
}

HRESULT FakePin::ConnectedTo(IPin** peer) {
  *peer = peer_;
  if (!peer_) return VFW_E_NOT_CONNECTED;
  peer_->AddRef();
  return S_OK;
}

HRESULT FakePin::QueryDirection(PIN_DIRECTION* direction) {
  *direction = direction_;
  return S_OK;
}

HRESULT FakePin::QueryPinInfo(PIN_INFO* info) {
  std::memset(info, 0, sizeof *info);
  info->pFilter = filter_;
  if (filter_) filter_->AddRef();
  info->dir = direction_;
  const std::u16string name = Utf8ToUtf16(name_);
  std::copy_n(name.begin(), std::min(name.size(), MAX_PIN_NAME - 1), info->achName);
  return S_OK;
}

HRESULT FakePin::QueryFormats(char** formats) {
  static constexpr char kFormat[] = "video/x-fake";
  *formats = static_cast<char*>(CoTaskMemAlloc(sizeof kFormat));
  std::memcpy(*formats, kFormat, sizeof kFormat);
  return S_OK;
}

void RegisterFakeFilterClass(REFCLSID clsid, FakeFilterConfig config) {
  Classes()[clsid].config = std::move(config);
  const CLSID id = clsid;
  RegisterClass(clsid, Classes()[clsid].config.label, [id](REFIID riid, void** object) -> HRESULT {
    auto filter = MakeComObject<FakeFilter>(id, Classes()[id].config);
    return filter->QueryInterface(riid, object);
  });
}

FakeFilterConfig& FakeClassConfig(REFCLSID clsid) { return Classes()[clsid].config; }

std::vector<FakeFilter*> FakeInstances(REFCLSID clsid) { return Classes()[clsid].live; }

FakeFilter* LastFakeInstance(REFCLSID clsid) {
  const auto& live = Classes()[clsid].live;
  return live.empty() ? nullptr : live.back();
}

int FakeCreatedCount(REFCLSID clsid) { return Classes()[clsid].created; }

void ResetFakeCounts() {
  for (auto& [clsid, record] : Classes()) record.created = 0;
}
