#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/unknown.h"

// Apartments: a per-thread count. The first CoInitialize on a thread answers
// S_OK, every further one S_FALSE; each must be balanced by CoUninitialize.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
bool IsComInitializedOnThisThread();

inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

// Creates an object of a registered class. Unknown class: REGDB_E_CLASSNOTREG
// and *object null. An outer object is not supported (CLASS_E_NOAGGREGATION).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);

template <class T>
HRESULT CoCreateInstance(REFCLSID clsid, ComPtr<T>* out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, T::iid,
                          out->ReleaseAndGetVoidAddress());
}

// The class registry. A factory creates a new object and answers `riid` on it.
using ClassFactory = std::function<HRESULT(REFIID riid, void** object)>;

struct ClassInfo {
  CLSID clsid;
  std::string friendly_name;
};

// Registers (or replaces) the factory for `clsid`.
void RegisterClass(REFCLSID clsid, std::string friendly_name, ClassFactory factory);
void UnregisterClass(REFCLSID clsid);
bool IsClassRegistered(REFCLSID clsid);
// Registered classes in registration order.
std::vector<ClassInfo> RegisteredClasses();

// Factory for a class whose objects are made with MakeComObject<T>().
template <class T>
ClassFactory FactoryFor() {
  return [](REFIID riid, void** object) -> HRESULT {
    auto created = MakeComObject<T>();
    return created->QueryInterface(riid, object);
  };
}

// Task memory, as handed across interfaces (page lists and the like).
void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* block);
// Blocks allocated with CoTaskMemAlloc and not yet freed (for tests).
long CoTaskMemOutstanding();

// Wide strings handed across interfaces.
using BSTR = char16_t*;
BSTR SysAllocString(const char16_t* text);
void SysFreeString(BSTR text);

// UTF-16 helpers for the wide text the interfaces use.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
