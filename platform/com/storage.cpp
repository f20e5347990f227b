#include "platform/com/storage.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/com/com.h"

namespace {

class MemoryStream : public ComObject<IStream> {
 public:
  explicit MemoryStream(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}

  HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
    if (!buffer && size) return STG_E_INVALIDPOINTER;
    const std::size_t available = bytes_.size() - std::min(position_, bytes_.size());
    const std::size_t count = std::min<std::size_t>(size, available);
    if (count) std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    if (read) *read = static_cast<ULONG>(count);
    return count == size ? S_OK : S_FALSE;
  }

  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    if (!buffer && size) return STG_E_INVALIDPOINTER;
    if (position_ + size > bytes_.size()) bytes_.resize(position_ + size);
    if (size) std::memcpy(bytes_.data() + position_, buffer, size);
    position_ += size;
    if (written) *written = size;
    return S_OK;
  }

  HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* new_position) override {
    std::int64_t base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<std::int64_t>(position_); break;
      case STREAM_SEEK_END: base = static_cast<std::int64_t>(bytes_.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    if (base + move < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<std::size_t>(base + move);
    if (new_position) *new_position = position_;
    return S_OK;
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

HRESULT ReadExactly(IStream* stream, void* buffer, ULONG size) {
  ULONG read = 0;
  const HRESULT hr = stream->Read(buffer, size, &read);
  if (FAILED(hr)) return hr;
  return read == size ? S_OK : STG_E_READFAULT;
}

HRESULT WriteExactly(IStream* stream, const void* buffer, ULONG size) {
  ULONG written = 0;
  const HRESULT hr = stream->Write(buffer, size, &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : STG_E_INVALIDFUNCTION;
}

HRESULT CopyToTaskMemory(std::u16string_view text, LPWSTR* out) {
  if (!out) return E_POINTER;
  auto* copy = static_cast<char16_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
  if (!copy) return E_OUTOFMEMORY;
  std::copy(text.begin(), text.end(), copy);
  copy[text.size()] = u'\0';
  *out = copy;
  return S_OK;
}

// Display names are at most this long; anything larger in a record is damage.
constexpr std::uint32_t kMaxDisplayNameBytes = 64 * 1024;

class DeviceMoniker : public ComObject<IMoniker> {
 public:
  DeviceMoniker() = default;
  explicit DeviceMoniker(std::u16string_view name) : name_(name) {}

  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_CDeviceMoniker;
    return S_OK;
  }

  // Persisted form: the name's size in bytes (32 bits, little-endian), then the
  // UTF-16LE name with its terminating zero.
  HRESULT Load(IStream* stream) override {
    if (!stream) return E_POINTER;
    std::uint8_t size_bytes[4];
    if (HRESULT hr = ReadExactly(stream, size_bytes, 4); FAILED(hr)) return hr;
    const std::uint32_t size = size_bytes[0] | (size_bytes[1] << 8) | (size_bytes[2] << 16) |
                               (std::uint32_t{size_bytes[3]} << 24);
    if (size < 2 || size % 2 != 0 || size > kMaxDisplayNameBytes) return STG_E_READFAULT;
    std::vector<std::uint8_t> raw(size);
    if (HRESULT hr = ReadExactly(stream, raw.data(), size); FAILED(hr)) return hr;
    std::u16string name;
    for (std::uint32_t i = 0; i + 1 < size; i += 2)
      name.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
    if (name.back() != u'\0') return STG_E_READFAULT;
    name.pop_back();
    name_ = std::move(name);
    return S_OK;
  }

  HRESULT Save(IStream* stream, BOOL /*clear_dirty*/) override {
    if (!stream) return E_POINTER;
    const std::uint32_t size = static_cast<std::uint32_t>((name_.size() + 1) * 2);
    std::vector<std::uint8_t> raw;
    raw.reserve(4 + size);
    for (int shift = 0; shift < 32; shift += 8) raw.push_back(static_cast<std::uint8_t>(size >> shift));
    for (char16_t c : name_) {
      raw.push_back(static_cast<std::uint8_t>(c));
      raw.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    raw.push_back(0);
    raw.push_back(0);
    return WriteExactly(stream, raw.data(), static_cast<ULONG>(raw.size()));
  }

  HRESULT BindToObject(IBindCtx* /*context*/, IMoniker* /*left*/, REFIID riid,
                       void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    return BindDisplayName(name_, riid, object);
  }

  HRESULT GetDisplayName(IBindCtx* /*context*/, IMoniker* /*left*/, LPWSTR* display_name) override {
    return CopyToTaskMemory(name_, display_name);
  }

 private:
  std::u16string name_;
};

class ItemMoniker : public ComObject<IMoniker> {
 public:
  static constexpr CLSID kClassId = MakeGuid("{00000304-0000-0000-C000-000000000046}");

  ItemMoniker() = default;
  ItemMoniker(std::u16string delimiter, std::u16string item)
      : delimiter_(std::move(delimiter)), item_(std::move(item)) {}

  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = kClassId;
    return S_OK;
  }
  // Item monikers are only ever made in memory here.
  HRESULT Load(IStream*) override { return E_NOTIMPL; }
  HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }

  // Binds to what is registered under this name in the running object table.
  HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<IRunningObjectTable> table;
    if (HRESULT hr = GetRunningObjectTable(0, table.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
    ComPtr<IUnknown> found;
    if (HRESULT hr = table->GetObject(this, found.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
    return found->QueryInterface(riid, object);
  }

  HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* display_name) override {
    return CopyToTaskMemory(delimiter_ + item_, display_name);
  }

 private:
  std::u16string delimiter_;
  std::u16string item_;
};

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (lower(text[i]) != lower(prefix[i])) return false;
  return true;
}

// "@device:sw:{category}\{class}": the registered class named after the backslash.
HRESULT ResolveSoftwareFilter(std::u16string_view name, REFIID riid, void** object) {
  constexpr std::u16string_view kPrefix = u"@device:sw:";
  const std::u16string_view rest = name.substr(kPrefix.size());
  const std::size_t slash = rest.find(u'\\');
  if (slash == std::u16string_view::npos) return MK_E_SYNTAX;
  const auto category = GuidFromString(Utf16ToUtf8(rest.substr(0, slash)));
  const auto clsid = GuidFromString(Utf16ToUtf8(rest.substr(slash + 1)));
  if (!category || !clsid) return MK_E_SYNTAX;
  const HRESULT hr = CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
  return hr == REGDB_E_CLASSNOTREG ? MK_E_NOOBJECT : hr;
}

struct Resolvers {
  std::mutex mutex;
  std::map<std::u16string, DisplayNameResolver> by_prefix;
  Resolvers() { by_prefix[u"@device:sw:"] = ResolveSoftwareFilter; }
};

Resolvers& AllResolvers() {
  static Resolvers resolvers;
  return resolvers;
}

}  // namespace

namespace com_detail {
void RegisterBuiltinClasses() {
  RegisterClass(CLSID_CDeviceMoniker, "Device Moniker", FactoryFor<DeviceMoniker>());
  RegisterClass(ItemMoniker::kClassId, "Item Moniker", FactoryFor<ItemMoniker>());
}
}  // namespace com_detail

ComPtr<IStream> CreateMemoryStream(std::span<const std::uint8_t> bytes) {
  return MakeComObject<MemoryStream>(bytes);
}

std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream) {
  auto* memory = dynamic_cast<MemoryStream*>(stream);
  return memory ? memory->bytes() : std::vector<std::uint8_t>{};
}

HRESULT OleLoadFromStream(IStream* stream, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!stream) return E_POINTER;
  std::uint8_t clsid_bytes[kGuidBinarySize];
  if (HRESULT hr = ReadExactly(stream, clsid_bytes, kGuidBinarySize); FAILED(hr)) return hr;
  ComPtr<IPersistStream> persist;
  if (HRESULT hr = CoCreateInstance(GuidFromBytes(clsid_bytes), &persist); FAILED(hr)) return hr;
  if (HRESULT hr = persist->Load(stream); FAILED(hr)) return hr;
  return persist->QueryInterface(riid, object);
}

HRESULT OleSaveToStream(IPersistStream* object, IStream* stream) {
  if (!object || !stream) return E_POINTER;
  CLSID clsid;
  if (HRESULT hr = object->GetClassID(&clsid); FAILED(hr)) return hr;
  std::uint8_t clsid_bytes[kGuidBinarySize];
  GuidToBytes(clsid, clsid_bytes);
  if (HRESULT hr = WriteExactly(stream, clsid_bytes, kGuidBinarySize); FAILED(hr)) return hr;
  return object->Save(stream, 1);
}

HRESULT CreateDeviceMoniker(std::u16string_view display_name, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = MakeComObject<DeviceMoniker>(display_name).Detach();
  return S_OK;
}

void RegisterDisplayNameResolver(std::u16string prefix, DisplayNameResolver resolver) {
  auto& resolvers = AllResolvers();
  std::lock_guard lock(resolvers.mutex);
  resolvers.by_prefix[std::move(prefix)] = std::move(resolver);
}

void UnregisterDisplayNameResolver(const std::u16string& prefix) {
  auto& resolvers = AllResolvers();
  std::lock_guard lock(resolvers.mutex);
  resolvers.by_prefix.erase(prefix);
}

HRESULT BindDisplayName(std::u16string_view display_name, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  DisplayNameResolver resolver;
  {
    auto& resolvers = AllResolvers();
    std::lock_guard lock(resolvers.mutex);
    std::size_t best = 0;
    for (const auto& [prefix, candidate] : resolvers.by_prefix) {
      if (prefix.size() >= best && StartsWithIgnoringCase(display_name, prefix)) {
        best = prefix.size();
        resolver = candidate;
      }
    }
  }
  if (!resolver) return MK_E_SYNTAX;
  const HRESULT hr = resolver(display_name, riid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

std::vector<std::uint8_t> MakeSelectionRecord(std::u16string_view display_name) {
  auto moniker = MakeComObject<DeviceMoniker>(display_name);
  auto stream = CreateMemoryStream();
  OleSaveToStream(moniker.Get(), stream.Get());
  const std::vector<std::uint8_t> persisted = MemoryStreamBytes(stream.Get());
  const auto length = static_cast<std::uint32_t>(persisted.size());
  std::vector<std::uint8_t> record;
  record.reserve(4 + persisted.size());
  for (int shift = 0; shift < 32; shift += 8) record.push_back(static_cast<std::uint8_t>(length >> shift));
  record.insert(record.end(), persisted.begin(), persisted.end());
  return record;
}

HRESULT CreateItemMoniker(LPCWSTR delimiter, LPCWSTR item, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  if (!item) return E_INVALIDARG;
  *moniker = MakeComObject<ItemMoniker>(std::u16string(delimiter ? delimiter : u""),
                                        std::u16string(item))
                 .Detach();
  return S_OK;
}
