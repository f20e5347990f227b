#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/com/unknown.h"

// Byte streams and persistence.

inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;

struct ISequentialStream : IUnknown {
  static constexpr IID iid = MakeGuid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
  // Reads up to `size` bytes; S_FALSE when fewer than `size` were available.
  virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;
};

struct IStream : ISequentialStream {
  static constexpr IID iid = MakeGuid("{0000000C-0000-0000-C000-000000000046}");
  using Base = ISequentialStream;
  virtual HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* new_position) = 0;
};

struct IPersist : IUnknown {
  static constexpr IID iid = MakeGuid("{0000010C-0000-0000-C000-000000000046}");
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

struct IPersistStream : IPersist {
  static constexpr IID iid = MakeGuid("{00000109-0000-0000-C000-000000000046}");
  using Base = IPersist;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clear_dirty) = 0;
};

// A stream over a copy of `bytes`, positioned at 0; it grows on writes.
ComPtr<IStream> CreateMemoryStream(std::span<const std::uint8_t> bytes = {});
// The whole content of a stream made by CreateMemoryStream (empty for any other).
std::vector<std::uint8_t> MemoryStreamBytes(IStream* stream);

// Reads a class identifier from the stream, creates that class, lets it load
// the rest of the stream through IPersistStream and answers `riid` on it.
HRESULT OleLoadFromStream(IStream* stream, REFIID riid, void** object);
// Writes the class identifier and then the object's own data.
HRESULT OleSaveToStream(IPersistStream* object, IStream* stream);

// Monikers.

struct IBindCtx;  // never used: every bind passes none

struct IMoniker : IPersistStream {
  static constexpr IID iid = MakeGuid("{0000000F-0000-0000-C000-000000000046}");
  using Base = IPersistStream;
  virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID riid, void** object) = 0;
  // Display name in task memory (free with CoTaskMemFree).
  virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPWSTR* display_name) = 0;
};

// The device moniker: persisted as a 32-bit name size in bytes and the UTF-16LE
// display name with its terminating zero; binds the name through the resolvers below.
inline constexpr CLSID CLSID_CDeviceMoniker = MakeGuid("{4315D437-5B8C-11D0-BD3B-00A0C911CE86}");

HRESULT CreateDeviceMoniker(std::u16string_view display_name, IMoniker** moniker);

// A resolver turns a display name that starts with its prefix into an object.
// It answers MK_E_NOOBJECT (or another failure) when the name names nothing here.
using DisplayNameResolver =
    std::function<HRESULT(std::u16string_view display_name, REFIID riid, void** object)>;
// Longest registered prefix wins. "@device:sw:{category}\{clsid}" is built in:
// it creates the registered class named by the identifier after the backslash.
void RegisterDisplayNameResolver(std::u16string prefix, DisplayNameResolver resolver);
void UnregisterDisplayNameResolver(const std::u16string& prefix);
HRESULT BindDisplayName(std::u16string_view display_name, REFIID riid, void** object);

// The stored selection record: 32-bit length L, then the persisted moniker (L bytes).
std::vector<std::uint8_t> MakeSelectionRecord(std::u16string_view display_name);

// Item monikers: delimiter and item name; the display name is their concatenation.
HRESULT CreateItemMoniker(LPCWSTR delimiter, LPCWSTR item, IMoniker** moniker);

// An object that can publish a description of itself while it is registered in
// the running object table (the graph manager writes its topology as Graphviz).
struct IPublishedObject : IUnknown {
  static constexpr IID iid = MakeGuid("{6B0A53D4-2F8C-4C71-9D7E-3E0F0A8A1C01}");
  // Start keeping `file` up to date; it is written at once.
  virtual void StartPublishing(const std::filesystem::path& file) = 0;
  // Stop writing; the table removes the file afterwards.
  virtual void StopPublishing() = 0;
};

struct IRunningObjectTable : IUnknown {
  static constexpr IID iid = MakeGuid("{00000010-0000-0000-C000-000000000046}");
  // Registers `object` under `moniker`; *key is non-zero on success.
  virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* moniker, DWORD* key) = 0;
  virtual HRESULT Revoke(DWORD key) = 0;
  // S_OK when an entry with this moniker's display name is registered, else S_FALSE.
  virtual HRESULT IsRunning(IMoniker* moniker) = 0;
  virtual HRESULT GetObject(IMoniker* moniker, IUnknown** object) = 0;
};

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);

// Where the program publishes files for outside tools:
// $XDG_RUNTIME_DIR/presenter-link, or a private folder under /tmp without it.
// Created (mode 0700) on first use.
std::filesystem::path RuntimeDirectory();
// The folder of published graphs, RuntimeDirectory()/graphs.
std::filesystem::path PublishedGraphsDirectory();
