#include "platform/com/com.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

std::atomic<long> g_live_objects{0};
std::atomic<long> g_task_blocks{0};
thread_local int t_apartment_count = 0;

struct RegisteredClass {
  std::string friendly_name;
  ClassFactory factory;
  std::size_t order;
};

struct ClassRegistry {
  std::mutex mutex;
  std::unordered_map<CLSID, RegisteredClass> classes;
  std::size_t next_order = 0;
};

}  // namespace

namespace com_detail {
void RegisterBuiltinClasses();  // the monikers, in storage.cpp
}

namespace {

ClassRegistry& Registry() {
  static ClassRegistry registry;
  return registry;
}

// The moniker classes are there before anything is created, so a stored moniker
// always loads.
void EnsureBuiltinClasses() {
  static std::once_flag once;
  std::call_once(once, com_detail::RegisterBuiltinClasses);
}

}  // namespace

long ComLiveObjectCount() { return g_live_objects.load(); }

namespace com_detail {
void AddLiveObject() { g_live_objects.fetch_add(1, std::memory_order_relaxed); }
void RemoveLiveObject() { g_live_objects.fetch_sub(1, std::memory_order_relaxed); }
}  // namespace com_detail

HRESULT CoInitialize(void* /*reserved*/) { return t_apartment_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_apartment_count > 0) --t_apartment_count;
}

bool IsComInitializedOnThisThread() { return t_apartment_count > 0; }

void RegisterClass(REFCLSID clsid, std::string friendly_name, ClassFactory factory) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  auto found = registry.classes.find(clsid);
  const std::size_t order = found != registry.classes.end() ? found->second.order : registry.next_order++;
  registry.classes[clsid] = RegisteredClass{std::move(friendly_name), std::move(factory), order};
}

void UnregisterClass(REFCLSID clsid) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.classes.erase(clsid);
}

bool IsClassRegistered(REFCLSID clsid) {
  EnsureBuiltinClasses();
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return registry.classes.contains(clsid);
}

std::vector<ClassInfo> RegisteredClasses() {
  EnsureBuiltinClasses();
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  std::vector<std::pair<std::size_t, ClassInfo>> ordered;
  for (const auto& [clsid, entry] : registry.classes)
    ordered.push_back({entry.order, ClassInfo{clsid, entry.friendly_name}});
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ClassInfo> result;
  for (auto& [order, info] : ordered) result.push_back(std::move(info));
  return result;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD /*context*/, REFIID riid,
                         void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  EnsureBuiltinClasses();
  ClassFactory factory;
  {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.classes.find(clsid);
    if (found == registry.classes.end()) return REGDB_E_CLASSNOTREG;
    factory = found->second.factory;
  }
  // The factory runs unlocked: a class may create others while it is made.
  const HRESULT hr = factory(riid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

void* CoTaskMemAlloc(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block) g_task_blocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void CoTaskMemFree(void* block) {
  if (!block) return;
  g_task_blocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

long CoTaskMemOutstanding() { return g_task_blocks.load(); }

BSTR SysAllocString(const char16_t* text) {
  if (!text) return nullptr;
  const std::size_t length = std::char_traits<char16_t>::length(text);
  auto* copy = static_cast<char16_t*>(std::malloc((length + 1) * sizeof(char16_t)));
  if (copy) std::memcpy(copy, text, (length + 1) * sizeof(char16_t));
  return copy;
}

void SysFreeString(BSTR text) { std::free(text); }

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    char32_t code = 0xFFFD;
    std::size_t length = 1;
    if (c < 0x80) {
      code = c;
    } else if ((c >> 5) == 0x6 && i + 1 < text.size()) {
      code = ((c & 0x1F) << 6) | (text[i + 1] & 0x3F);
      length = 2;
    } else if ((c >> 4) == 0xE && i + 2 < text.size()) {
      code = ((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F);
      length = 3;
    } else if ((c >> 3) == 0x1E && i + 3 < text.size()) {
      code = ((c & 0x07) << 18) | ((text[i + 1] & 0x3F) << 12) | ((text[i + 2] & 0x3F) << 6) |
             (text[i + 3] & 0x3F);
      length = 4;
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}
