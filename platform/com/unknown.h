#pragma once

#include <atomic>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

using ULONG = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using WCHAR = char16_t;
using LPCWSTR = const char16_t*;
using LPWSTR = char16_t*;
using BOOL = std::int32_t;

// The root of every interface. Each interface names its identifier as `iid`
// and its base interface as `Base` (IUnknown names none).
struct IUnknown {
  static constexpr IID iid = MakeGuid("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Number of COM-style objects alive in this process (every ComObject counts).
// Tests read it to show that everything was released.
long ComLiveObjectCount();

namespace com_detail {
void AddLiveObject();
void RemoveLiveObject();

template <class I>
concept HasBase = requires { typename I::Base; };

// True when `riid` names I or one of the interfaces it derives from (IUnknown excluded).
template <class I>
constexpr bool Names(REFIID riid) {
  if (riid == I::iid) return true;
  if constexpr (HasBase<I>) return Names<typename I::Base>(riid);
  return false;
}

template <class Object, class First, class... Rest>
void* Find(Object* self, REFIID riid) {
  if (Names<First>(riid)) return static_cast<First*>(self);
  if constexpr (sizeof...(Rest) > 0) return Find<Object, Rest...>(self, riid);
  return nullptr;
}
}  // namespace com_detail

// Owns one counted reference. Program code holds every reference in one of these.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  ComPtr(const ComPtr<U>& other) : ComPtr(static_cast<T*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference that the caller already owns (no AddRef).
  static ComPtr Adopt(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Releases the current reference and returns the slot for an out-parameter.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &p_;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // Hands the reference to the caller (for out-parameters of our own methods).
  T* Detach() { return std::exchange(p_, nullptr); }
  void CopyTo(T** out) const {
    *out = p_;
    if (p_) p_->AddRef();
  }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  // QueryInterface into `out`; returns the status unchanged.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) {
      out->Reset();
      return E_POINTER;
    }
    return p_->QueryInterface(U::iid, out->ReleaseAndGetVoidAddress());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// The counting half of every object: an atomic reference count and the live-object counter.
class ComObjectRoot {
 public:
  ComObjectRoot() { com_detail::AddLiveObject(); }
  ComObjectRoot(const ComObjectRoot&) = delete;
  ComObjectRoot& operator=(const ComObjectRoot&) = delete;
  virtual ~ComObjectRoot() { com_detail::RemoveLiveObject(); }

 protected:
  ULONG AddRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG ReleaseImpl() {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

// Implements IUnknown for an object offering `Interfaces...` (and their bases).
template <class... Interfaces>
class ComObject : public ComObjectRoot, public Interfaces... {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    void* found = riid == IUnknown::iid ? static_cast<IUnknown*>(static_cast<First*>(this))
                                        : com_detail::Find<ComObject, Interfaces...>(this, riid);
    *object = found;
    if (!found) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return AddRefImpl(); }
  ULONG Release() override { return ReleaseImpl(); }

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
};

// Adds `Extra...` interfaces to an existing object class.
template <class Base, class... Extra>
class ComExtends : public Base, public Extra... {
 public:
  using Base::Base;
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (void* found = com_detail::Find<ComExtends, Extra...>(this, riid)) {
      *object = found;
      Base::AddRef();
      return S_OK;
    }
    return Base::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return Base::AddRef(); }
  ULONG Release() override { return Base::Release(); }
};

// Creates an object with one reference, owned by the returned pointer.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}
