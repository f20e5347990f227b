#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/com/com.h"
#include "platform/com/storage.h"

namespace {

std::u16string DisplayNameOf(IMoniker* moniker) {
  LPWSTR name = nullptr;
  if (!moniker || FAILED(moniker->GetDisplayName(nullptr, nullptr, &name)) || !name) return {};
  std::u16string result(name);
  CoTaskMemFree(name);
  return result;
}

// A file name for an entry: the entry name (an item moniker's name without its
// "!" delimiter), with what a path cannot hold replaced.
std::string FileNameFor(const std::u16string& display_name) {
  std::string name = Utf16ToUtf8(display_name);
  if (!name.empty() && name.front() == '!') name.erase(0, 1);
  for (char& c : name)
    if (c == '/' || c == '\0') c = '_';
  if (name.empty() || name == "." || name == "..") name = "_" + name;
  return name + ".dot";
}

// The process-wide table. It lives as long as the process and is not counted
// among the live objects; the entries it holds are.
class RunningObjectTable final : public IRunningObjectTable {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IUnknown::iid || riid == IRunningObjectTable::iid) {
      *object = static_cast<IRunningObjectTable*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }

  HRESULT Register(DWORD /*flags*/, IUnknown* object, IMoniker* moniker, DWORD* key) override {
    if (!key) return E_POINTER;
    *key = 0;
    if (!object || !moniker) return E_INVALIDARG;
    Entry entry{ComPtr<IUnknown>(object), ComPtr<IMoniker>(moniker), DisplayNameOf(moniker), {}};
    // An object that can describe itself is published beside the other files
    // outside tools read; a table entry that cannot be published still stands.
    ComPtr<IPublishedObject> published;
    if (SUCCEEDED(entry.object.As(&published))) {
      std::error_code error;
      const std::filesystem::path folder = PublishedGraphsDirectory();
      std::filesystem::create_directories(folder, error);
      if (!error) {
        entry.published_file = folder / FileNameFor(entry.name);
        published->StartPublishing(entry.published_file);
      }
    }
    std::lock_guard lock(mutex_);
    *key = next_key_++;
    entries_.emplace(*key, std::move(entry));
    return S_OK;
  }

  HRESULT Revoke(DWORD key) override {
    Entry entry;
    {
      std::lock_guard lock(mutex_);
      auto found = entries_.find(key);
      if (found == entries_.end()) return E_INVALIDARG;
      entry = std::move(found->second);
      entries_.erase(found);
    }
    if (!entry.published_file.empty()) {
      ComPtr<IPublishedObject> published;
      if (SUCCEEDED(entry.object.As(&published))) published->StopPublishing();
      std::error_code ignored;
      std::filesystem::remove(entry.published_file, ignored);
    }
    return S_OK;  // the entry's references go here, outside the lock
  }

  HRESULT IsRunning(IMoniker* moniker) override {
    const std::u16string name = DisplayNameOf(moniker);
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : entries_)
      if (entry.name == name) return S_OK;
    return S_FALSE;
  }

  HRESULT GetObject(IMoniker* moniker, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    const std::u16string name = DisplayNameOf(moniker);
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : entries_) {
      if (entry.name == name) {
        entry.object.CopyTo(object);
        return S_OK;
      }
    }
    return MK_E_UNAVAILABLE;
  }

 private:
  struct Entry {
    ComPtr<IUnknown> object;
    ComPtr<IMoniker> moniker;
    std::u16string name;
    std::filesystem::path published_file;
  };

  std::mutex mutex_;
  std::map<DWORD, Entry> entries_;
  DWORD next_key_ = 1;
};

// A folder only we can use: a directory we own with no access for others.
bool IsPrivateFolder(const std::filesystem::path& folder) {
  struct stat info {};
  return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
         (info.st_mode & 077) == 0;
}

std::filesystem::path MakeRuntimeDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    std::filesystem::path folder = std::filesystem::path(runtime) / "presenter-link";
    ::mkdir(folder.c_str(), 0700);
    if (IsPrivateFolder(folder)) return folder;
  }
  // Without a runtime directory: a private folder under /tmp. If the usual name
  // is taken by something that is not ours, make a fresh one rather than use it.
  std::filesystem::path folder = "/tmp/presenter-link-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  if (IsPrivateFolder(folder)) return folder;
  std::string pattern = folder.string() + "-XXXXXX";
  if (char* made = ::mkdtemp(pattern.data())) return made;
  return folder;
}

}  // namespace

HRESULT GetRunningObjectTable(DWORD /*reserved*/, IRunningObjectTable** table) {
  if (!table) return E_POINTER;
  static RunningObjectTable instance;
  *table = &instance;
  return S_OK;
}

std::filesystem::path RuntimeDirectory() {
  // Decided once: the environment does not change under a running program.
  static const std::filesystem::path folder = MakeRuntimeDirectory();
  return folder;
}

std::filesystem::path PublishedGraphsDirectory() {
  const std::filesystem::path folder = RuntimeDirectory() / "graphs";
  ::mkdir(folder.c_str(), 0700);
  return folder;
}
